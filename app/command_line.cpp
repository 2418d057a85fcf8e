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
  const QCommandLineOption batch(QStringLiteral("batch"),
                                 QStringLiteral("Opens the batch window with the PATHs (files and folders) in it."));
  parser.addOption(batch);
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A file to open, as File > Open would."),
                               QStringLiteral("[FILE | --batch PATH...]"));

  const auto answer = [](CommandLine::Action action, QString output) {
    CommandLine line;
    line.action = action;
    line.output = std::move(output);
    return line;
  };
  const bool parsed = parser.parse(arguments);
  // Asked for help or the version, the answer comes whatever else is wrong.
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    return answer(CommandLine::Action::PrintHelp, parser.helpText());
  }
  if (parser.isSet(version)) {
    return answer(CommandLine::Action::PrintVersion, windows::Text(messages::kVersionText) + '\n');
  }
  if (!parsed) return answer(CommandLine::Action::Fail, parser.errorText() + '\n');
  const QStringList files = parser.positionalArguments();
  CommandLine line;
  if (parser.isSet(batch)) {
    line.batch = true;
    line.paths = files;
  } else if (files.size() > 1) {
    return answer(CommandLine::Action::Fail, QStringLiteral("One file at most.\n"));
  } else {
    line.file = files.value(0);
  }
  return line;
}

}  // namespace tarnwhistle::app
