#include "io/file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <utility>

#include "io/fs_path.h"
#include "io/utf16.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef MORAVELT_IO_URING
#include <liburing.h>
#endif

namespace io {

namespace {

thread_local std::string lastFailure;

// Keeps the C library's reason (errno) for a call that has just failed; false, for the
// caller to return.
bool NoteFailure() {
  if (errno != 0) lastFailure = std::generic_category().message(errno);
  return false;
}

#ifdef _WIN32
// The same for a Win32 call (GetLastError).
bool NoteWin32Failure() {
  DWORD code = GetLastError();
  if (code == 0) return false;
  std::string text = std::system_category().message(static_cast<int>(code));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
    text.pop_back();
  lastFailure = text;
  return false;
}
#endif

#ifdef _WIN32
// Paths of MAX_PATH or more need the extended-length form, which takes only absolute
// paths with backslashes.
std::wstring NativePath(const std::string& utf8) {
  std::wstring w = Widen(utf8);
  if (w.size() < MAX_PATH - 12 || w.rfind(L"\\\\?\\", 0) == 0) return w;
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::FILE* OpenNative(const std::string& path, const wchar_t* mode) {
  return _wfopen(NativePath(path).c_str(), mode);
}
#else
std::FILE* OpenNative(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}
#endif

}  // namespace

File::~File() noexcept {
  if (f_) std::fclose(f_);
}

File::File(File&& other) noexcept : f_(std::exchange(other.f_, nullptr)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (f_) std::fclose(f_);
    f_ = std::exchange(other.f_, nullptr);
  }
  return *this;
}

namespace {
std::atomic<OpenProbe> openProbe{nullptr};
}  // namespace

void SetOpenProbe(OpenProbe probe) { openProbe = probe; }

File File::OpenRead(const std::string& path) {
  if (OpenProbe probe = openProbe.load(std::memory_order_relaxed)) probe(path);
#ifdef _WIN32
  return File(OpenNative(path, L"rb"));
#else
  // A folder opens for reading here, and would read as nothing of an absurd length; it is
  // no file (as on Windows, where it does not open).
  std::FILE* f = OpenNative(path, "rb");
  struct stat st;
  if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    f = nullptr;
  }
  return File(f);
#endif
}

File File::OpenWrite(const std::string& path) {
  errno = 0;
#ifdef _WIN32
  File file(OpenNative(path, L"wb"));
#else
  File file(OpenNative(path, "wb"));
#endif
  if (!file) NoteFailure();
  return file;
}

std::size_t File::Read(void* buffer, std::size_t n) {
  if (!f_ || n == 0) return 0;
  return std::fread(buffer, 1, n, f_);
}

bool File::ReadExactAt(std::uint64_t offset, void* buffer, std::size_t n) {
  if (!f_) return false;
  auto* p = static_cast<unsigned char*>(buffer);
  while (n > 0) {
#ifdef _WIN32
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f_)));
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!ReadFile(handle, p, want, &got, &at) || got == 0) return false;
#else
    const ssize_t got = pread(fileno(f_), p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
#endif
    p += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

#ifdef MORAVELT_IO_URING
namespace {

constexpr unsigned kRingEntries = 32;

// This thread's ring, made on first use; none when the system refuses one, or after one
// went wrong (it is then closed, with anything still queued in it).
class Ring {
 public:
  Ring() { ok_ = io_uring_queue_init(kRingEntries, &ring_, 0) == 0; }
  ~Ring() { Close(); }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  io_uring* get() { return ok_ ? &ring_ : nullptr; }
  void Close() {
    if (ok_) io_uring_queue_exit(&ring_);
    ok_ = false;
  }

 private:
  io_uring ring_{};
  bool ok_ = false;
};

Ring& ThreadRing() {
  thread_local Ring ring;
  return ring;
}

}  // namespace
#endif

void File::ReadManyAt(std::span<ReadAt> reads) {
  for (ReadAt& r : reads) r.done = false;
  if (!f_) return;
  std::size_t next = 0;  // the first read not yet asked for
#ifdef MORAVELT_IO_URING
  Ring& ring = ThreadRing();
  while (reads.size() - next > 1 && ring.get()) {
    io_uring* const u = ring.get();
    const std::size_t count = std::min<std::size_t>(reads.size() - next, kRingEntries);
    std::size_t queued = 0;
    for (; queued < count; ++queued) {
      const ReadAt& r = reads[next + queued];
      if (r.n > (1u << 30)) break;  // one call reads at most this; ReadExactAt reads it below
      io_uring_sqe* sqe = io_uring_get_sqe(u);
      io_uring_prep_read(sqe, fileno(f_), r.out, static_cast<unsigned>(r.n), r.offset);
      io_uring_sqe_set_data64(sqe, next + queued);
    }
    if (queued == 0) break;
    int submitted;
    do submitted = io_uring_submit(u);
    while (submitted == -EINTR);
    std::size_t seen = 0;
    while (seen < static_cast<std::size_t>(std::max(submitted, 0))) {
      io_uring_cqe* cqe = nullptr;
      const int waited = io_uring_wait_cqe(u, &cqe);
      if (waited == -EINTR) continue;
      if (waited < 0) break;
      ReadAt& r = reads[static_cast<std::size_t>(io_uring_cqe_get_data64(cqe))];
      const int got = cqe->res;
      io_uring_cqe_seen(u, cqe);
      ++seen;
      // A short read (as at the end of the file) is followed up one call at a time.
      const auto n = static_cast<std::size_t>(std::max(got, 0));
      r.done = got >= 0 && (n == r.n || (n > 0 && ReadExactAt(r.offset + n, static_cast<unsigned char*>(r.out) + n, r.n - n)));
    }
    if (submitted != static_cast<int>(queued) || seen != queued) {
      // Whatever went wrong, the ring is not used again: the reads it did not finish are
      // read one by one below.
      ring.Close();
      for (std::size_t i = next; i < next + queued; ++i)
        if (!reads[i].done) reads[i].done = ReadExactAt(reads[i].offset, reads[i].out, reads[i].n);
    }
    next += queued;
  }
#endif
  for (; next < reads.size(); ++next) reads[next].done = ReadExactAt(reads[next].offset, reads[next].out, reads[next].n);
}

bool File::Write(const void* buffer, std::size_t n) {
  if (!f_) return false;
  errno = 0;
  return n == 0 || std::fwrite(buffer, 1, n, f_) == n || NoteFailure();
}

bool File::Seek(std::uint64_t offset) {
  if (!f_) return false;
#ifdef _WIN32
  return _fseeki64(f_, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(f_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool File::SeekEnd() {
  if (!f_) return false;
#ifdef _WIN32
  return _fseeki64(f_, 0, SEEK_END) == 0;
#else
  return fseeko(f_, 0, SEEK_END) == 0;
#endif
}

std::optional<std::uint64_t> File::Tell() {
  if (!f_) return std::nullopt;
#ifdef _WIN32
  __int64 pos = _ftelli64(f_);
#else
  off_t pos = ftello(f_);
#endif
  if (pos < 0) return std::nullopt;
  return static_cast<std::uint64_t>(pos);
}

std::optional<std::uint64_t> File::Length() {
  auto here = Tell();
  if (!here || !SeekEnd()) return std::nullopt;
  auto end = Tell();
  if (!Seek(*here)) return std::nullopt;
  return end;
}

bool File::AtEnd() const { return f_ && std::feof(f_); }

bool File::HasError() const { return !f_ || std::ferror(f_); }

bool File::Flush(bool durable) {
  if (!f_) return false;
  errno = 0;
  if (std::fflush(f_) != 0) return NoteFailure();
  if (!durable) return true;
#ifdef _WIN32
  return _commit(_fileno(f_)) == 0 || NoteFailure();
#else
  return fsync(fileno(f_)) == 0 || NoteFailure();
#endif
}

void File::StartWriteBack() {
  if (!f_ || std::fflush(f_) != 0) return;
#ifdef __linux__
  sync_file_range(fileno(f_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool File::Close() {
  if (!f_) return false;
  bool good = !std::ferror(f_);
  errno = 0;
  good = (std::fclose(std::exchange(f_, nullptr)) == 0) && good;
  return good || NoteFailure();
}

std::filesystem::path ToFsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string FromFsPath(const std::filesystem::path& path) {
  std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  return FromFsPath(ToFsPath(dir) / ToFsPath(std::string(name)));
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  File f = File::OpenRead(path);
  if (!f) return std::nullopt;
  return f.Length();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(ToFsPath(path), ec);
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
  return DeleteFileW(NativePath(path).c_str()) != 0;
#else
  return std::remove(path.c_str()) == 0;
#endif
}

bool RenameReplace(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExW(NativePath(from).c_str(), NativePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         NoteWin32Failure();
#else
  errno = 0;
  return std::rename(from.c_str(), to.c_str()) == 0 || NoteFailure();
#endif
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  if (a == b) return true;
  std::error_code ec;
  bool same = std::filesystem::equivalent(ToFsPath(a), ToFsPath(b), ec);
  return !ec && same;
}

#ifdef _WIN32
namespace {

// Where a symbolic link or a junction leads, as the system itself follows it; none for
// anything else, or a link whose target can't be opened.
std::optional<std::string> FinalPathOfLink(const std::string& path) {
  const std::wstring native = NativePath(path);
  const DWORD attributes = GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return std::nullopt;
  HANDLE h = CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::wstring final(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  if (n >= final.size()) {
    final.resize(n);
    n = GetFinalPathNameByHandleW(h, final.data(), n, FILE_NAME_NORMALIZED);
  }
  CloseHandle(h);
  if (n == 0 || n >= final.size()) return std::nullopt;
  final.resize(n);
  // The plain forms of "\\?\C:\..." and "\\?\UNC\server\..."; a long one gets its
  // prefix back where it is opened.
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0)
    final = L"\\\\" + final.substr(8);
  else if (final.rfind(L"\\\\?\\", 0) == 0)
    final = final.substr(4);
  return Narrow(final);
}

}  // namespace
#endif

std::string ResolveLinks(const std::string& path) {
#ifdef _WIN32
  // The standard library reads no links here; the system names the file they lead to.
  if (std::optional<std::string> final = FinalPathOfLink(path)) return *final;
#endif
  namespace fs = std::filesystem;
  fs::path p = ToFsPath(path);
  // As the system itself gives up on a loop of links.
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec)) || ec) break;
    const fs::path target = fs::read_symlink(p, ec);
    if (ec || target.empty()) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  return FromFsPath(p);
}

bool CopyPermissions(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms perms = fs::status(ToFsPath(from), ec).permissions();
  if (ec || perms == fs::perms::unknown) return false;
  fs::permissions(ToFsPath(to), perms, fs::perm_options::replace, ec);
  return !ec;
}

namespace {

// The file clock against the system clock. The browser build's C++ library lacks the
// conversions; its file clock counts from 1970, as the system clock does.
#if defined(__EMSCRIPTEN__)
std::chrono::sys_time<std::chrono::nanoseconds> FileClockToSys(std::filesystem::file_time_type t) {
  return std::chrono::sys_time<std::chrono::nanoseconds>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()));
}
std::filesystem::file_time_type FileClockFromSys(std::chrono::sys_seconds t) {
  return std::filesystem::file_time_type(
      std::chrono::duration_cast<std::filesystem::file_time_type::duration>(t.time_since_epoch()));
}
#else
auto FileClockToSys(std::filesystem::file_time_type t) { return std::chrono::file_clock::to_sys(t); }
auto FileClockFromSys(std::chrono::sys_seconds t) { return std::chrono::file_clock::from_sys(t); }
#endif

}  // namespace

std::optional<std::int64_t> ModifiedTime(const std::string& path) {
  std::error_code ec;
  const auto time = std::filesystem::last_write_time(ToFsPath(path), ec);
  if (ec) return std::nullopt;
  const auto system = FileClockToSys(time);
  return std::chrono::floor<std::chrono::seconds>(system).time_since_epoch().count();
}

std::optional<FileStamp> File::Stamp() const {
  if (!f_) return std::nullopt;
#ifdef _WIN32
  BY_HANDLE_FILE_INFORMATION info;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f_)));
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return FileStamp{(std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                   static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                             info.ftLastWriteTime.dwLowDateTime)};
#else
  struct stat st;
  if (fstat(fileno(f_), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
#endif
}

std::optional<FileStamp> StampOf(const std::string& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(NativePath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return FileStamp{(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                   static_cast<std::int64_t>((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                             data.ftLastWriteTime.dwLowDateTime)};
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
#endif
}

bool SetModifiedTime(const std::string& path, std::int64_t secondsSince1970) {
  const std::chrono::sys_seconds system{std::chrono::seconds{secondsSince1970}};
  std::error_code ec;
  std::filesystem::last_write_time(ToFsPath(path), FileClockFromSys(system), ec);
  return !ec;
}

bool CanSyncFileSystem() {
#ifdef __linux__
  return true;
#else
  return false;
#endif
}

bool SyncFileSystemOf(const std::string& path) {
#ifdef __linux__
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool done = ::syncfs(fd) == 0;
  ::close(fd);
  return done;
#else
  (void)path;
  return false;
#endif
}

void SyncDirectoryOf(const std::string& path) {
#ifndef _WIN32
  std::filesystem::path dir = ToFsPath(path).parent_path();
  if (dir.empty()) dir = ".";
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#else
  (void)path;
#endif
}

std::string LastFailureReason() { return lastFailure; }

void ClearFailureReason() { lastFailure.clear(); }

void SetFailureReason(std::string reason) { lastFailure = std::move(reason); }

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

}  // namespace io
