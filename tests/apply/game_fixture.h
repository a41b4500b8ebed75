// Test support for the apply suites: the simulated game's database made current for the bridge, a
// recorder of every statement the database runs, and a log file to read messages back from.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/devhost.h"

namespace gearloft::testing {

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Statements the database ran since the last call, in order; `writes_only` leaves out SELECTs.
  std::vector<std::string> TakeStatements(bool writes_only = false);
  // The messages of the log lines written since SetUp, without their time and age prefix.
  std::vector<std::string> LogMessages() const;
  // First column of the first row of `sql` run straight on the database, as text ("" for none or NULL).
  std::string Scalar(const std::string& sql);

  devhost::Database* database_ = nullptr;
  std::filesystem::path folder_;
  std::vector<std::string> statements_;
};

}  // namespace gearloft::testing
