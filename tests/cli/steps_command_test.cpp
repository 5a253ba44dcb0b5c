// `vordak steps`: the step table as operators and the notebook builder read it.

#include <gtest/gtest.h>

#include "motor/step_table.h"
#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

TEST(StepsCommand, JsonHoldsEveryStepWithWhatARunHandsItAndBothOrders) {
  const ChildResult result = run_vordak({"steps", "--json"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const ordered_json table = parse_json(result.out);
  ASSERT_EQ(table["adimlar"].size(), motor::step_table().size());
  for (std::size_t i = 0; i < motor::step_table().size(); ++i) {
    const motor::StepDefinition& definition = motor::step_table()[i];
    const ordered_json& step = table["adimlar"][i];
    EXPECT_EQ(step["adim"], definition.kod);
    EXPECT_EQ(step["nb"], definition.nb);
    EXPECT_EQ(step["bagimlilik"], ordered_json(definition.upstream));
    EXPECT_EQ(step["parametreler"], ordered_json(motor::step_param_names(definition)));
  }
  const ordered_json hedef = table["adimlar"][5];
  EXPECT_EQ(hedef["veri_kaynaklari"], (ordered_json{"eus_hedef_muta", "eus_sql_kapsam_muta"}));
  EXPECT_EQ(hedef["kaynak_parametresi"], "SOURCE_DIRS");
  EXPECT_EQ(hedef["run_grubu"], "ingest");
  EXPECT_EQ(table["adimlar"][10]["run_grubu"], nullptr);  // ingest_depo: only in a run of all steps
  EXPECT_EQ(table["run_sirasi"], ordered_json(motor::default_run_order()));
  EXPECT_EQ(table["tum_adimlar_sirasi"], ordered_json(motor::full_run_order()));
}

TEST(StepsCommand, TableNamesEachStepOnALineAndTheRunOrders) {
  const ChildResult result = run_vordak({"steps"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("   6  ingest_hedef_kapsam  nb_01f_ingest_hedef_kapsam.ipynb  ingest    "
                            "SOURCE_DIRS=eus_hedef_muta,eus_sql_kapsam_muta ingest_ddl\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\n  vordak run (18 adım): ingest_ddl "), std::string::npos);
  EXPECT_NE(result.out.find("\n  vordak run --all-steps (24 adım): ingest_ddl "), std::string::npos);
}

}  // namespace
}  // namespace vordak::testing
