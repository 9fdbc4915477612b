#include "io/folder.h"

#include <system_error>

#include "io/fs_path.h"

namespace io {

namespace fs = std::filesystem;

namespace {

PathKind KindOfStatus(const fs::file_status& status) {
  switch (status.type()) {
    case fs::file_type::not_found:
    case fs::file_type::none:
      return PathKind::kMissing;
    case fs::file_type::regular:
      return PathKind::kFile;
    case fs::file_type::directory:
      return PathKind::kFolder;
    default:
      return PathKind::kOther;
  }
}

FolderItem ItemOf(const fs::directory_entry& entry) {
  FolderItem item;
  item.name = FromFsPath(entry.path().filename());
  item.path = FromFsPath(entry.path());
  std::error_code ec;
  item.link = entry.is_symlink(ec);
  const fs::file_status status = entry.status(ec);
  // A link that leads nowhere is something, not nothing.
  item.kind = ec ? PathKind::kOther : KindOfStatus(status);
  if (item.kind == PathKind::kMissing) item.kind = PathKind::kOther;
  if (item.kind == PathKind::kFile) {
    const std::uintmax_t size = entry.file_size(ec);
    item.size = ec ? 0 : static_cast<std::uint64_t>(size);
  }
  return item;
}

// Without a separator at the end, unless the path is a root ("/", "C:\").
fs::path WithoutTrailingSeparator(fs::path p) {
  if (!p.empty() && p.filename().empty() && p.has_relative_path()) p = p.parent_path();
  return p;
}

}  // namespace

PathKind KindOf(const std::string& path) {
  std::error_code ec;
  return KindOfStatus(fs::status(ToFsPath(path), ec));
}

PathKind OwnKindOf(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(ToFsPath(path), ec);
  if (status.type() == fs::file_type::symlink) return PathKind::kOther;
  return KindOfStatus(status);
}

bool MakeFolders(const std::string& path) {
  std::error_code ec;
  fs::create_directories(ToFsPath(path), ec);
  return IsFolder(path);
}

bool MakeFolder(const std::string& path) {
  std::error_code ec;
  return fs::create_directory(ToFsPath(path), ec) && !ec;
}

bool RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(ToFsPath(path), ec);
  return OwnKindOf(path) == PathKind::kMissing;
}

bool ForEachInFolder(const std::string& folder, const std::function<bool(const FolderItem&)>& visit) {
  std::error_code ec;
  for (fs::directory_iterator it(ToFsPath(folder), ec), end; !ec && it != end; it.increment(ec))
    if (!visit(ItemOf(*it))) return true;
  return !ec;
}

bool WalkTree(const std::string& root, const std::function<Walk(const TreeItem&)>& visit) {
  std::error_code ec;
  const fs::path top = ToFsPath(root);
  fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec);
  if (ec) return false;
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    TreeItem tree{ItemOf(*it), {}};
    if (tree.item.link && tree.item.kind == PathKind::kFolder) tree.item.kind = PathKind::kOther;
    for (const fs::path& part : it->path().lexically_relative(top)) tree.parts.push_back(FromFsPath(part));
    const Walk next = visit(tree);
    if (next == Walk::kStop) break;
    if (next == Walk::kSkip && tree.item.kind == PathKind::kFolder) it.disable_recursion_pending();
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(ToFsPath(path), ec);
  return FromFsPath(WithoutTrailingSeparator((ec ? ToFsPath(path) : absolute).lexically_normal()));
}

std::string NormalPath(const std::string& path) { return FromFsPath(ToFsPath(path).lexically_normal()); }

std::string ParentOf(const std::string& path) { return FromFsPath(ToFsPath(path).parent_path()); }

std::string RelativePath(const std::string& path, const std::string& root) {
  return FromFsPath(ToFsPath(path).lexically_relative(ToFsPath(root)));
}

}  // namespace io
