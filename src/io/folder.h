// Folders and what a path names: whether it is a file or a folder, making and removing
// folders, listing one, walking a tree, and the path texts the standard library works out
// (absolute, normal, relative). Everything above this layer asks here; nothing above it
// includes <filesystem>.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace io {

// What a path names. Links are followed unless a function says otherwise; kOther is a
// device, a pipe, a socket, or a link that leads nowhere.
enum class PathKind { kMissing, kFile, kFolder, kOther };

PathKind KindOf(const std::string& path);
// The path itself, a final symbolic link not followed: a link of any kind is kOther.
PathKind OwnKindOf(const std::string& path);
inline bool IsFolder(const std::string& path) { return KindOf(path) == PathKind::kFolder; }
// A regular file (or a link to one).
inline bool IsFile(const std::string& path) { return KindOf(path) == PathKind::kFile; }

// The folder and those above it that are missing; true when the path is a folder afterwards.
bool MakeFolders(const std::string& path);
// One new folder; false when it can't be made or something stands under the name already.
bool MakeFolder(const std::string& path);
// The folder and everything in it (links are removed, never followed); true when nothing
// is left under the name.
bool RemoveTree(const std::string& path);

// One item of a folder.
struct FolderItem {
  std::string name;
  std::string path;  // the folder's path joined with the name
  PathKind kind = PathKind::kOther;  // links followed
  bool link = false;                 // the item itself is a symbolic link
  std::uint64_t size = 0;            // a file's length (links followed)
};

// Hands each item of the folder to `visit` in the order the system lists them, "." and
// ".." left out, until `visit` returns false. False when the folder can't be listed, or
// listing it failed part of the way.
bool ForEachInFolder(const std::string& folder, const std::function<bool(const FolderItem&)>& visit);

// What a tree walk does after an item.
enum class Walk { kGo, kSkip, kStop };  // kSkip: don't enter the folder just given
struct TreeItem {
  FolderItem item;                  // its kind kFolder only for a real folder, never a link
  std::vector<std::string> parts;   // its names below the root, the item's own last
};
// Walks everything under `root`, folders before what they hold, passing over folders that
// can't be opened and never entering a link. False when the root itself can't be listed.
bool WalkTree(const std::string& root, const std::function<Walk(const TreeItem&)>& visit);

// The path made absolute and normal ("a/./b/../c" as "/cwd/a/c"), without a separator at
// its end unless it is a root.
std::string AbsolutePath(const std::string& path);
// The path with "." and ".." taken out where the text alone allows it, as the standard
// library's lexically normal form.
std::string NormalPath(const std::string& path);
// The folder a path names its file in: "a/b" for "a/b/c", empty for "c".
std::string ParentOf(const std::string& path);
// `path` relative to `root`, by their texts; empty when it can't be put so.
std::string RelativePath(const std::string& path, const std::string& root);

}  // namespace io
