#include "core/log_file_sink.h"

#include <gtest/gtest.h>

#include "core/io_error.h"

#include "test_support.h"

namespace vordak {
namespace {

using testing::read_text;

TEST(LogFileSink, KeepsEarlyLinesAndHoldsEachLineAsSoonAsWritten) {
  testing::TempDir dir;
  const fs::path log = dir / "run.log";
  testing::write_text(log, "earlier run\n");
  LogFileSink sink;
  sink.line("  [CONFIG] local_data_paths.json yüklendi (2 kaynak)");
  sink.partial("prompt: ");
  EXPECT_FALSE(fs::exists(dir / "absent.log"));

  sink.open(log);
  EXPECT_EQ(read_text(log), "earlier run\n  [CONFIG] local_data_paths.json yüklendi (2 kaynak)\nprompt: ");
  sink.line("e");
  sink.line("  ── transform | Dönüşüm ──");
  // Read while the sink is still open: nothing waits in a buffer.
  EXPECT_EQ(read_text(log), "earlier run\n  [CONFIG] local_data_paths.json yüklendi (2 kaynak)\nprompt: e\n"
                            "  ── transform | Dönüşüm ──\n");
  sink.close();
  sink.line("after close");
  EXPECT_FALSE(read_text(log).ends_with("after close\n"));
  EXPECT_EQ(sink.failure(), "");
}

TEST(LogFileSink, FailuresNameTheFileAndNeverStopTheCaller) {
  testing::TempDir dir;
  LogFileSink unopened;
  try {
    unopened.open(dir / "no-such-dir" / "run.log");
    FAIL() << "opening in a missing directory must throw";
  } catch (const IoError& error) {
    EXPECT_EQ(error.path(), dir / "no-such-dir" / "run.log");
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
  }

  LogFileSink full;
  full.open("/dev/full");
  full.line("a line the disk has no room for");
  full.line("and another");
  EXPECT_FALSE(full.is_open());
  EXPECT_EQ(full.failure().rfind("günlük dosyası yazılamadı: /dev/full: ", 0), 0u) << full.failure();
}

}  // namespace
}  // namespace vordak
