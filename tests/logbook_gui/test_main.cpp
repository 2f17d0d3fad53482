// Test entry: a Qt application object (offscreen, no display needed) around GoogleTest. The
// source and program folders come from the build unless the environment names others.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("QM_TEST_SOURCE_DIR")) qputenv("QM_TEST_SOURCE_DIR", QM_SOURCE_DIR);
  if (qEnvironmentVariableIsEmpty("QM_TEST_BIN_DIR")) qputenv("QM_TEST_BIN_DIR", QM_PROGRAM_DIR);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
