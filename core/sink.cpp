#include "core/sink.h"

#include <cstdio>

#include "core/text.h"

namespace vordak {

namespace {

// Text from files (step keys, notebook names, data-source paths, error messages) reaches
// the terminal without its control characters.
class StreamSink : public Sink {
 public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}
  void line(std::string_view text) override { write(text, "\n"); }
  void partial(std::string_view text) override { write(text, ""); }

 private:
  // One flush per call, so that a line reaches the stream whole.
  void write(std::string_view text, const char* end) {
    if (stream_ != stdout) std::fflush(stdout);
    const std::string safe = terminal_safe(text);
    std::fwrite(safe.data(), 1, safe.size(), stream_);
    std::fputs(end, stream_);
    std::fflush(stream_);
  }

  std::FILE* stream_;
};

}  // namespace

Sink& stdout_sink() {
  static StreamSink sink(stdout);
  return sink;
}

Sink& stderr_sink() {
  static StreamSink sink(stderr);
  return sink;
}

void StringSink::line(std::string_view text) {
  text_.append(text);
  text_.push_back('\n');
}

void StringSink::partial(std::string_view text) { text_.append(text); }

std::string StringSink::take() {
  std::string taken;
  taken.swap(text_);
  return taken;
}

std::vector<std::string> StringSink::lines() const {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text_.size()) {
    std::size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    result.push_back(text_.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

void TeeSink::line(std::string_view text) {
  for (Sink* target : targets_) target->line(text);
}

void TeeSink::partial(std::string_view text) {
  for (Sink* target : targets_) target->partial(text);
}

}  // namespace vordak
