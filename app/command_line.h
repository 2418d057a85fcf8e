#pragma once

#include <QString>
#include <QStringList>

namespace tarnwhistle::app {

// What the window's command line asks for.
struct CommandLine {
  enum class Action { OpenWindow, PrintHelp, PrintVersion, Fail };
  Action action = Action::OpenWindow;
  QString file;    // OpenWindow: the file to open at start, "" for none
  QString output;  // what to print for the others: to stdout, or to stderr for Fail
  bool batch = false;  // OpenWindow: open the batch window too, with `paths` in it
  QStringList paths;
};

// `arguments` as QCoreApplication::arguments() gives them, the program first.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace tarnwhistle::app
