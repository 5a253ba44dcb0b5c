#include "core/memory_env.h"

#include <cerrno>

#include "core/io_error.h"

namespace vordak {

namespace {

// One spelling per entry: absolute (a relative path counts from "/"), no "." or "..",
// no trailing separator.
std::string key_of(const fs::path& path) {
  std::string key = (fs::path("/") / path).lexically_normal().string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

std::string parent_key(const std::string& key) { return key_of(fs::path(key).parent_path()); }

}  // namespace

// Appends straight into its node, which exists from its creation as on a disk.
class MemoryEnv::TemporaryFile : public WritableFile {
 public:
  TemporaryFile(MemoryEnv& env, fs::path target, fs::path path)
      : env_(env), target_(std::move(target)), path_(std::move(path)) {}
  ~TemporaryFile() override {
    const std::lock_guard lock(env_.mutex_);
    env_.open_temporaries_.erase(key_of(path_));
  }

  const fs::path& path() const override { return path_; }
  void append(std::string_view bytes) override {
    const std::lock_guard lock(env_.mutex_);
    Node* node = env_.find(key_of(path_));
    if (node == nullptr || closed_) throw IoError("Dosya yazılamadı", target_, EBADF);
    node->content.append(bytes);
    node->mtime_ns = env_.now_ns();
  }
  void start_writeback() override {}
  void sync_and_close() override {
    const std::lock_guard lock(env_.mutex_);
    if (env_.find(key_of(path_)) == nullptr || closed_) throw IoError("Dosya yazılamadı", target_, EBADF);
    closed_ = true;
  }

 private:
  MemoryEnv& env_;
  fs::path target_;
  fs::path path_;
  bool closed_ = false;
};

MemoryEnv::MemoryEnv(TimePoint start) : now_(start) { nodes_["/"].directory = true; }

void MemoryEnv::advance(std::chrono::nanoseconds by) {
  const std::lock_guard lock(mutex_);
  now_ += std::chrono::duration_cast<TimePoint::duration>(by);
}

TimePoint MemoryEnv::now() {
  const std::lock_guard lock(mutex_);
  return now_;
}

void MemoryEnv::sleep_until(TimePoint deadline) {
  const std::lock_guard lock(mutex_);
  now_ = std::max(now_, deadline);
}

std::optional<FileStatus> MemoryEnv::status(const fs::path& path) {
  const std::lock_guard lock(mutex_);
  const Node* node = find(key_of(path));
  if (node == nullptr) return std::nullopt;
  FileStatus status;
  status.type = node->directory ? fs::file_type::directory : fs::file_type::regular;
  status.size = node->directory ? 0 : node->content.size();
  status.mtime_ns = node->mtime_ns;
  return status;
}

std::vector<DirEntry> MemoryEnv::list_directory(const fs::path& dir) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(dir);
  const Node* node = find(key);
  if (node == nullptr || !node->directory) throw IoError("Dizin okunamadı", dir, node == nullptr ? ENOENT : ENOTDIR);
  std::vector<DirEntry> entries;
  const std::string prefix = key == "/" ? key : key + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.starts_with(prefix); ++it) {
    if (it->first == prefix || it->first.find('/', prefix.size()) != std::string::npos) continue;
    entries.push_back({dir / it->first.substr(prefix.size()),
                       it->second.directory ? fs::file_type::directory : fs::file_type::regular});
  }
  return entries;
}

void MemoryEnv::create_directories(const fs::path& dir) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(dir);
  std::vector<std::string> missing;
  for (std::string at = key; find(at) == nullptr; at = parent_key(at)) missing.push_back(at);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!find(parent_key(*it))->directory) throw IoError("Dizin oluşturulamadı", dir, ENOTDIR);
    nodes_[*it] = Node{true, "", now_ns()};
  }
  if (!find(key)->directory) throw IoError("Dizin oluşturulamadı", dir, ENOTDIR);
}

std::string MemoryEnv::read_file(const fs::path& path) {
  const std::lock_guard lock(mutex_);
  const Node* node = find(key_of(path));
  if (node == nullptr || node->directory) throw IoError("Dosya okunamadı", path, node == nullptr ? ENOENT : EISDIR);
  return node->content;
}

std::string MemoryEnv::read_regular_file(const fs::path& path, std::uintmax_t max_bytes) {
  const std::lock_guard lock(mutex_);
  const Node* node = find(key_of(path));
  if (node == nullptr) throw IoError("Dosya okunamadı", path, ENOENT);
  if (node->directory) throw FileRefused("Düzenli bir dosya değil: " + path.string(), path);
  if (node->content.size() > max_bytes) {
    throw FileRefused("Dosya çok büyük: " + path.string() + " (" + std::to_string(node->content.size()) +
                          " bayt; en çok " + std::to_string(max_bytes) + ")",
                      path);
  }
  return node->content;
}

void MemoryEnv::write_file_atomic(const fs::path& path, std::string_view content) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(path);
  require_parent(key, path, "Dosya yazılamadı");
  const Node* node = find(key);
  if (node != nullptr && node->directory) throw IoError("Dosya yazılamadı", path, EISDIR);
  put_file(key, std::string(content));
}

bool MemoryEnv::remove_file(const fs::path& path) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(path);
  const Node* node = find(key);
  if (node == nullptr) return false;
  if (node->directory) throw IoError("Dosya silinemedi", path, EISDIR);
  nodes_.erase(key);
  return true;
}

void MemoryEnv::remove_tree(const fs::path& dir) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(dir);
  if (key == "/") throw IoError("Dizin silinemedi", dir, EBUSY);
  // Everything under it sorts between "key/" and "key0" ('0' follows '/').
  nodes_.erase(nodes_.lower_bound(key + "/"), nodes_.lower_bound(key + "0"));
  nodes_.erase(key);
}

std::unique_ptr<WritableFile> MemoryEnv::new_temporary_file(const fs::path& target, FileAccess) {
  const std::lock_guard lock(mutex_);
  require_parent(key_of(target), target, "Dosya yazılamadı");
  const fs::path path =
      target.parent_path() / ("." + target.filename().string() + "." + std::to_string(100000 + next_temporary_++));
  put_file(key_of(path), "");
  open_temporaries_.insert(key_of(path));
  return std::make_unique<TemporaryFile>(*this, target, path);
}

void MemoryEnv::rename_file(const fs::path& from, const fs::path& to) {
  const std::lock_guard lock(mutex_);
  const std::string from_key = key_of(from), to_key = key_of(to);
  const Node* source = find(from_key);
  const Node* target = find(to_key);
  if (source == nullptr || source->directory) {
    throw IoError("Dosya yazılamadı", to, source == nullptr ? ENOENT : EISDIR);
  }
  if (target != nullptr && target->directory) throw IoError("Dosya yazılamadı", to, EISDIR);
  require_parent(to_key, to, "Dosya yazılamadı");
  Node moved = std::move(nodes_[from_key]);
  nodes_.erase(from_key);
  nodes_[to_key] = std::move(moved);
}

void MemoryEnv::sync_directory(const fs::path& dir) {
  const std::lock_guard lock(mutex_);
  const Node* node = find(key_of(dir));
  if (node == nullptr || !node->directory) throw IoError("Dizin yazılamadı", dir, node == nullptr ? ENOENT : ENOTDIR);
}

bool MemoryEnv::remove_abandoned_file(const fs::path& path) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(path);
  const Node* node = find(key);
  if (node == nullptr || node->directory || open_temporaries_.contains(key)) return false;
  nodes_.erase(key);
  return true;
}

void MemoryEnv::create_directory(const fs::path& dir, FileAccess) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(dir);
  if (const Node* node = find(key)) {
    if (node->directory) return;
    throw IoError("Dizin oluşturulamadı", dir, EEXIST);
  }
  require_parent(key, dir, "Dizin oluşturulamadı");
  nodes_[key] = Node{true, "", now_ns()};
}

void MemoryEnv::write_new_file(const fs::path& path, std::string_view content, FileAccess) {
  const std::lock_guard lock(mutex_);
  const std::string key = key_of(path);
  if (find(key) != nullptr) throw IoError("Dosya yazılamadı", path, EEXIST);
  require_parent(key, path, "Dosya yazılamadı");
  put_file(key, std::string(content));
}

void MemoryEnv::sync_file_system(const fs::path& path) {
  const std::lock_guard lock(mutex_);
  if (find(key_of(path)) == nullptr) throw IoError("Dizin yazılamadı", path, ENOENT);
}

MemoryEnv::Node* MemoryEnv::find(const std::string& key) {
  const auto found = nodes_.find(key);
  return found == nodes_.end() ? nullptr : &found->second;
}

void MemoryEnv::require_parent(const std::string& key, const fs::path& path, const char* what) {
  const Node* parent = find(parent_key(key));
  if (parent == nullptr || !parent->directory) throw IoError(what, path, parent == nullptr ? ENOENT : ENOTDIR);
}

void MemoryEnv::put_file(const std::string& key, std::string content) {
  nodes_[key] = Node{false, std::move(content), now_ns()};
}

__int128 MemoryEnv::now_ns() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(now_.time_since_epoch()).count();
}

}  // namespace vordak
