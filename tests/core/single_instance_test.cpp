#include "core/single_instance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QSignalSpy>

namespace vornel::core {
namespace {

QString TestName() { return QStringLiteral("vornel-test-%1").arg(QCoreApplication::applicationPid()); }

TEST(SingleInstanceTest, ASecondStartShowsTheFirstAndEnds) {
  SingleInstance first(TestName());
  ASSERT_EQ(first.claim(), SingleInstance::Claim::First);
  QSignalSpy shown(&first, &SingleInstance::showRequested);
  SingleInstance second(TestName());
  EXPECT_EQ(second.claim(), SingleInstance::Claim::AlreadyRunning);
  EXPECT_TRUE(shown.wait(5000));
  EXPECT_EQ(shown.count(), 1);
}

TEST(SingleInstanceTest, ASocketLeftByACrashIsTakenOver) {
  // What a killed player leaves: the socket's file, with nobody listening.
  const QString path = QDir::tempPath() + QLatin1Char('/') + TestName();
  {
    QFile stale(path);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  }
  SingleInstance first(TestName());
  EXPECT_EQ(first.claim(), SingleInstance::Claim::First);
  SingleInstance second(TestName());
  EXPECT_EQ(second.claim(), SingleInstance::Claim::AlreadyRunning);
}

}  // namespace
}  // namespace vornel::core
