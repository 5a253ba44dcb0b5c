#include "motor/fingerprint.h"

#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string_view>

#include "core/child_process.h"
#include "core/helper_thread.h"
#include "core/io_error.h"
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
  explicit Digest(const EVP_MD* algorithm) : algorithm_(algorithm), context_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    if (!context_) throw std::runtime_error("digest");
    restart();
  }
  // Starts a new digest over the same context: making one costs more than a short digest.
  void restart() {
    if (EVP_DigestInit_ex(context_.get(), algorithm_, nullptr) != 1) throw std::runtime_error("digest");
  }
  void feed(std::string_view bytes) { EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()); }
  // The first 16 characters of the lower-case hexadecimal digest.
  std::array<char, kFingerprintLength> digits() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &length);
    if (2 * length < kFingerprintLength) throw std::runtime_error("digest");
    static constexpr char kHex[] = "0123456789abcdef";
    std::array<char, kFingerprintLength> text{};
    for (std::size_t i = 0; i < kFingerprintLength / 2; ++i) {
      text[2 * i] = kHex[digest[i] >> 4];
      text[2 * i + 1] = kHex[digest[i] & 0xF];
    }
    return text;
  }
  std::string fingerprint() {
    const std::array<char, kFingerprintLength> text = digits();
    return std::string(text.begin(), text.end());
  }

 private:
  const EVP_MD* algorithm_;
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

// Whether git, started in `dir`, could find a repository: it looks in each directory up
// to the root for ".git", or for the "HEAD" of a bare repository, unless the environment
// names one. Anything that might be one counts: then git itself decides.
bool repository_possible(const std::string& dir, Env& env) {
  for (const char* variable : {"GIT_DIR", "GIT_COMMON_DIR", "GIT_WORK_TREE"}) {
    if (std::getenv(variable) != nullptr) return true;
  }
  std::error_code error;
  fs::path at = fs::absolute(dir, error);
  if (error) return true;
  while (true) {
    try {
      if (env.exists(at / ".git") || env.exists(at / "HEAD")) return true;
    } catch (const IoError&) {
      return true;
    }
    if (!at.has_relative_path()) return false;
    at = at.parent_path();
  }
}

// Whether a program named "git" is where the child process would look for it.
bool git_on_path() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  for (std::string_view rest = path;;) {
    const std::size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    if (::access((std::string(dir.empty() ? "." : dir) + "/git").c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

ChildResult run_git(const std::string& repo_dir, std::vector<std::string> argv, const LimitClock& clock) {
  ChildOptions options;
  options.cwd = repo_dir;
  options.timeout = kGitTimeLimit;
  options.clock = &clock;
  options.err = Stream::kDiscard;
  ChildResult result = run_child(argv, options);
  if (!is_valid_utf8(result.out)) throw ChildError("git çıktısı UTF-8 değil");
  return result;
}

// The quick fingerprint from a status already taken (`path` gives the name), made with
// `digest`, which is started again.
QuickFingerprint fast_fingerprint(std::string_view path, const FileStatus& status, Digest& digest) {
  try {
    const std::string_view name = last_component(path);
    if (!is_valid_utf8(name)) return {};
    const auto decimal = [](__int128 value, char* end) {
      char* start = end;
      __int128 magnitude = value < 0 ? -value : value;
      do {
        *--start = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
      } while (magnitude > 0);
      if (value < 0) *--start = '-';
      return std::string_view(start, static_cast<std::size_t>(end - start));
    };
    char size_digits[48];
    char mtime_digits[48];
    digest.restart();
    digest.feed(name);
    digest.feed("|");
    digest.feed(decimal(static_cast<__int128>(status.size), std::end(size_digits)));
    digest.feed("|");
    // Whole nanoseconds since the epoch; negative before it.
    digest.feed(decimal(status.mtime_ns, std::end(mtime_digits)));
    return {digest.digits(), true};
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

std::string content_fingerprint(std::string_view bytes) {
  Digest digest(EVP_sha256());
  digest.feed(bytes);
  return digest.fingerprint();
}

Fingerprint file_hash(const std::string& path, Env& env) {
  try {
    if (has_notebook_extension(path)) return notebook_code_hash(path, env);
    return content_fingerprint(env.read_file(path));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Fingerprint notebook_code_hash(const std::string& path, Env& env) {
  try {
    return notebook_code_fingerprint(env.read_file(path));
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

void fast_fingerprints(std::span<const std::string_view> paths, std::span<QuickFingerprint> found, Env& env) {
  // Taking a file's status is a system call each; the second core halves the wait. A few
  // hundred at a time: all at once would take fresh memory, which is dear.
  constexpr std::size_t kBatch = 256;
  on_two_threads((paths.size() + kBatch - 1) / kBatch, [&](std::size_t number) {
    const std::size_t first = number * kBatch;
    const std::span<const std::string_view> batch = paths.subspan(first, std::min(kBatch, paths.size() - first));
    const std::vector<std::optional<FileStatus>> statuses = env.statuses(batch);
    std::optional<Digest> digest;
    try {
      digest.emplace(md5());
    } catch (const std::exception&) {
      // No fingerprints, as for a file whose digest fails.
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
      found[first + i] =
          statuses[i] && digest ? fast_fingerprint(batch[i], *statuses[i], *digest) : QuickFingerprint{};
    }
  });
}

Fingerprint git_hash(const std::string& repo_dir, const std::string& file_path, const LimitClock& clock) {
  try {
    const ChildResult result = run_git(repo_dir, {"git", "hash-object", file_path}, clock);
    if (result.exit_status != 0) return std::nullopt;
    return strip(result.out).substr(0, kFingerprintLength);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool git_must_be_asked(const std::string& repo_dir, Env& env) {
  return repository_possible(repo_dir, env) || !git_on_path();
}

ordered_json git_info(const std::string& repo_dir, Env& env, const LimitClock& clock) {
  ordered_json info = ordered_json::object();
  info["git_available"] = false;
  // Outside any repository git would only say so, at the cost of two processes.
  if (!git_must_be_asked(repo_dir, env)) return info;
  // The two calls run side by side; their results are taken in order, as if one ran after
  // the other.
  std::future<ChildResult> branch_call =
      std::async(std::launch::async,
                 [&repo_dir, &clock] { return run_git(repo_dir, {"git", "branch", "--show-current"}, clock); });
  try {
    const ChildResult commit = run_git(repo_dir, {"git", "rev-parse", "HEAD"}, clock);
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
