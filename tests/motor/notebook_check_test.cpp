#include "motor/notebook_check.h"

#include <gtest/gtest.h>

#include "core/io_error.h"
#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

// The broken notebooks a batch meets: each is refused with a message naming the file.
const std::pair<const char*, std::string> kBroken[] = {
    {"text", "this is not a notebook"},
    {"empty", ""},
    {"truncated", R"({"cells": [{"cell_type": "code", "metadata": {"tags": ["parameters"]}, "sour)"},
    {"array", "[1, 2, 3]"},
    {"cells as an object", R"({"cells": {"0": {"cell_type": "code"}}})"},
    {"invalid UTF-8", "{\"cells\": [], \"x\": \"\xff\xfe\"}"},
    {"random bytes", std::string("\x00\x9c\x13\x7f\xe4\x01", 6)},
    {"a cell that is not an object", R"({"cells": [1]})"},
    {"no parameters cell", R"({"cells": [{"cell_type": "code", "metadata": {}, "source": "DB_PATH = 'prod'"}]})"},
    {"parameters tag on markdown", R"({"cells": [{"cell_type": "markdown", "metadata": {"tags": ["parameters"]}}]})"},
    // Found by fuzzing: the check stopped at the parameters cell and accepted what followed.
    {"a broken cell after the parameters cell",
     R"({"cells": [{"cell_type": "code", "metadata": {"tags": ["parameters"]}, "source": "DB_PATH = ''"}, "x"]})"},
    // A value 50,000 levels deep in a cell's metadata: refused as it is read.
    {"nesting beyond the limit",
     R"({"cells": [{"cell_type": "code", "metadata": {"tags": ["parameters"], "x": )" + std::string(50'000, '[') +
         std::string(50'000, ']') + R"(}, "source": "DB_PATH = ''"}]})"},
    {"a source that is no text",
     R"({"cells": [{"cell_type": "code", "metadata": {"tags": ["parameters"]}, "source": "DB_PATH = ''"},
                   {"cell_type": "code", "metadata": {}, "source": 7}]})"},
};

TEST(CheckNotebook, RefusesWhatCannotBeRunSafelyNamingTheFile) {
  MemoryEnv env;
  for (const auto& [kind, content] : kBroken) {
    const fs::path path = "/work/nb_02_transform.ipynb";
    testing::write_text(env, path, content);
    try {
      check_notebook(path, env);
      ADD_FAILURE() << kind << " was accepted";
    } catch (const std::runtime_error& failure) {
      EXPECT_NE(std::string(failure.what()).find(path.string()), std::string::npos) << kind << ": " << failure.what();
    }
  }
  testing::write_notebook(env, "/work/good.ipynb", {"md:# Başlık", "params:DB_PATH = ''", "x = 1"});
  EXPECT_NO_THROW(check_notebook("/work/good.ipynb", env));
  EXPECT_THROW(check_notebook("/work/missing.ipynb", env), IoError);
}

class BrokenNotebookTest : public testing::EngineTest {
 protected:
  BrokenNotebookTest() { write_registry_notebooks(); }
};

TEST_F(BrokenNotebookTest, ABrokenNotebookIsNeverUpToDateAndFailsAsHata) {
  make()->adim_isle("transform");
  for (const auto& [kind, content] : kBroken) {
    SCOPED_TRACE(kind);
    write_text(dir / "nb_02_transform.ipynb", content);
    const auto motor = make();
    out.take();
    EXPECT_FALSE(motor->adim_isle("transform"));
    const std::string lines = out.take();
    EXPECT_EQ(motor->report().ozet_satirlar().back().durum, StepStatus::kFailed);
    EXPECT_NE(lines.find("  HATA — "), std::string::npos) << lines;
    EXPECT_NE(lines.find((motor->season().work_dir() / "nb_02_transform.ipynb").string()), std::string::npos) << lines;
    EXPECT_EQ(lines.find("ATLANDI"), std::string::npos) << lines;
  }
  EXPECT_EQ(executor->calls.size(), 1u) << "no broken notebook reached the executor";
}

}  // namespace
}  // namespace vordak::motor
