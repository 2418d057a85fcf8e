#include "command_line.h"

#include <QCommandLineParser>

#include "engine/messages.h"
#include "windows/texts.h"

namespace tarnwhistle::app {

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Detects the line endings of a text file (CR LF, LF or CR) and writes a converted copy."));
  const QCommandLineOption help = parser.addHelpOption();
  // Not addVersionOption(): it would print the application's name and version apart.
  const QCommandLineOption version({"v", "version"}, QStringLiteral("Displays version information."));
  parser.addOption(version);
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A file to open, as File > Open would."),
                               QStringLiteral("[FILE]"));

  const bool parsed = parser.parse(arguments);
  // Asked for help or the version, the answer comes whatever else is wrong.
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    return {CommandLine::Action::PrintHelp, {}, parser.helpText()};
  }
  if (parser.isSet(version)) {
    return {CommandLine::Action::PrintVersion, {}, windows::Text(messages::kVersionText) + '\n'};
  }
  if (!parsed) return {CommandLine::Action::Fail, {}, parser.errorText() + '\n'};
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) return {CommandLine::Action::Fail, {}, QStringLiteral("One file at most.\n")};
  return {CommandLine::Action::OpenWindow, files.value(0), {}};
}

}  // namespace tarnwhistle::app
