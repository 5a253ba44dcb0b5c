#include "motor/fingerprint.h"

#include <sys/stat.h>

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string_view>
#include <thread>

#include "core/child_process.h"
#include "core/files.h"
#include "core/text.h"

namespace vordak::motor {

namespace {

constexpr std::chrono::seconds kGitTimeLimit{5};
constexpr std::size_t kFingerprintLength = 16;

// The MD5 algorithm, fetched once: OpenSSL 3 would look it up again for every digest.
const EVP_MD* md5() {
  static const std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> algorithm(EVP_MD_fetch(nullptr, "MD5", nullptr),
                                                                         EVP_MD_free);
  return algorithm ? algorithm.get() : EVP_md5();
}

// One running digest (MD5 or SHA-256) over fed bytes.
class Digest {
 public:
  explicit Digest(const EVP_MD* algorithm) : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), algorithm, nullptr) != 1) throw std::runtime_error("digest");
  }
  void feed(std::string_view bytes) { EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()); }
  // The first 16 characters of the lower-case hexadecimal digest.
  std::string fingerprint() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length && text.size() < kFingerprintLength; ++i) {
      text += kHex[digest[i] >> 4];
      text += kHex[digest[i] & 0xF];
    }
    return text;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
};

// The last component of a path text, as written (no resolution).
std::string_view last_component(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A name's extension counts from its last "."; a name whose only "." leads has none.
bool has_notebook_extension(std::string_view path) {
  const std::string_view name = last_component(path);
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  return name.substr(dot) == ".ipynb";
}

std::optional<std::string> sha256_of_file(const std::string& path) {
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return std::nullopt;
  Digest digest(EVP_sha256());
  char chunk[8192];
  while (true) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    if (n == 0) break;
    digest.feed(std::string_view(chunk, n));
  }
  if (std::ferror(file.get())) return std::nullopt;
  return digest.fingerprint();
}

ChildResult run_git(const std::string& repo_dir, std::vector<std::string> argv) {
  ChildOptions options;
  options.cwd = repo_dir;
  options.timeout = kGitTimeLimit;
  options.err = Stream::kDiscard;
  ChildResult result = run_child(argv, options);
  if (!is_valid_utf8(result.out)) throw ChildError("git çıktısı UTF-8 değil");
  return result;
}

}  // namespace

Fingerprint file_hash(const std::string& path) {
  try {
    if (has_notebook_extension(path)) return notebook_code_hash(path);
    return sha256_of_file(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Fingerprint notebook_code_hash(const std::string& path) {
  try {
    return notebook_code_fingerprint(read_file(path));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Fingerprint notebook_code_fingerprint(std::string_view text) {
  try {
    if (!is_valid_utf8(text)) return std::nullopt;
    const ordered_json notebook = parse_json(text);
    Digest digest(md5());
    if (!notebook.is_object()) return std::nullopt;
    const auto cells = notebook.find("cells");
    if (cells == notebook.end()) return digest.fingerprint();
    if (!cells->is_array()) return std::nullopt;
    for (const auto& cell : *cells) {
      if (!cell.is_object()) return std::nullopt;
      const auto source = cell.find("source");
      if (source == cell.end()) continue;
      if (source->is_string()) {
        digest.feed(source->get_ref<const std::string&>());
      } else if (source->is_array()) {
        for (const auto& line : *source) {
          if (!line.is_string()) return std::nullopt;
          digest.feed(line.get_ref<const std::string&>());
        }
      } else {
        return std::nullopt;
      }
    }
    return digest.fingerprint();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Fingerprint fast_file_hash(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  FileStatus known;
  known.size = static_cast<std::uintmax_t>(status.st_size);
  known.mtime_ns = static_cast<__int128>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
  return fast_fingerprint(path, known);
}

Fingerprint fast_fingerprint(std::string_view path, const FileStatus& status) {
  try {
    const std::string_view name = last_component(path);
    if (!is_valid_utf8(name)) return std::nullopt;
    // Whole nanoseconds since the epoch; negative before it.
    const __int128 nanos = status.mtime_ns;
    char digits[48];
    char* start = std::end(digits);
    __int128 magnitude = nanos < 0 ? -nanos : nanos;
    do {
      *--start = static_cast<char>('0' + static_cast<int>(magnitude % 10));
      magnitude /= 10;
    } while (magnitude > 0);
    if (nanos < 0) *--start = '-';
    Digest digest(md5());
    digest.feed(std::string(name) + "|" + std::to_string(status.size) + "|" +
                std::string(start, static_cast<std::size_t>(std::end(digits) - start)));
    return digest.fingerprint();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<Fingerprint> fast_fingerprints(const std::vector<std::string>& paths, Env& env) {
  std::vector<Fingerprint> found(paths.size());
  const auto take = [&](std::size_t begin, std::size_t step) {
    for (std::size_t i = begin; i < paths.size(); i += step) {
      try {
        if (const std::optional<FileStatus> status = env.status(paths[i])) found[i] = fast_fingerprint(paths[i], *status);
      } catch (const std::exception&) {
        // A status that cannot be read is no fingerprint, like a missing file's.
      }
    }
  };
  // Taking a file's status is a system call each; the second core halves the wait.
  constexpr std::size_t kWorthAThread = 256;
  if (paths.size() < kWorthAThread) {
    take(0, 1);
    return found;
  }
  std::thread helper(take, 1, 2);
  take(0, 2);
  helper.join();
  return found;
}

Fingerprint git_hash(const std::string& repo_dir, const std::string& file_path) {
  try {
    const ChildResult result = run_git(repo_dir, {"git", "hash-object", file_path});
    if (result.exit_status != 0) return std::nullopt;
    return strip(result.out).substr(0, kFingerprintLength);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

ordered_json git_info(const std::string& repo_dir) {
  // The two calls run side by side; their results are taken in order, as if one ran after
  // the other.
  std::future<ChildResult> branch_call =
      std::async(std::launch::async, [&repo_dir] { return run_git(repo_dir, {"git", "branch", "--show-current"}); });
  ordered_json info = ordered_json::object();
  info["git_available"] = false;
  try {
    const ChildResult commit = run_git(repo_dir, {"git", "rev-parse", "HEAD"});
    if (commit.exit_status == 0) {
      const std::string id = strip(commit.out);
      info["git_available"] = true;
      info["git_commit"] = id;
      info["git_commit_short"] = id.substr(0, 8);
    }
    const ChildResult branch = branch_call.get();
    if (branch.exit_status == 0) {
      const std::string name = strip(branch.out);
      info["git_branch"] = name.empty() ? "DETACHED" : name;
    }
  } catch (const std::exception& failure) {
    info["git_error"] = failure.what();
  }
  return info;
}

}  // namespace vordak::motor
