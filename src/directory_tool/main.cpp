// vornel-directory: builds the player's stations.dat from the Radio Browser directory.
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "directory_tool/tool.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("vornel-directory"));
  QTextStream report(stderr);
  return vornel::directory_tool::RunTool(QCoreApplication::arguments(), report);
}
