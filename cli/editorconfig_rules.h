#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/batch.h"
#include "engine/line_ending_kind.h"
#include "platform/file_system.h"

namespace tarnwhistle::cli {

// What a file's EditorConfig says it should end its lines with.
struct EditorConfigRule {
  enum class State {
    Set,     // end_of_line is lf, crlf or cr
    Unset,   // end_of_line is "unset", or a value that is none of the three (said in `note`)
    Absent,  // no .editorconfig applies, or none of its sections sets end_of_line
    Failed,  // a .editorconfig could not be read or parsed (said in `note`)
  };
  State state = State::Absent;
  LineEndingKind kind = LineEndingKind::None;
  std::string note;
};

// The end_of_line of each file, as Debian's libeditorconfig matches the sections of the
// .editorconfig files above it (root = true honoured). The library reads every
// .editorconfig above a file by its path, again for every file: here each one is read
// once per run, through the folder held open (a link or a FIFO there is refused, never
// followed or waited on), and copied into a private folder the library is pointed at
// instead. So the library never opens a file of the tree walked, however other users
// change it while the run goes on.
// What a person is told of a file its EditorConfig sets no end_of_line for.
std::string SkippedMessage(const EditorConfigRule& rule);

// What --editorconfig is told where the build reads no .editorconfig files.
inline constexpr std::string_view kNoEditorConfig = "--editorconfig is not available in this build (no EditorConfig library)";
inline constexpr std::string_view kNoEditorConfigJa = "この版では --editorconfig は使えません（EditorConfig のライブラリがありません）";

// `text` without the spaces and tabs around it, as a .editorconfig's lines are read.
std::string Trim(std::string_view text);

// The names of one folder that no section of some .editorconfig files can tell apart,
// as far as a conservative reading of their section names shows. Each section name's
// last part (after its last "/") is a name, "*" and a name's end ("*.c", "**.c"), or
// braces of those ("{Makefile,*.mk}", "*.{c,h}"), and its folders hold no braces,
// brackets or "?": then whether a section matches a file of a given folder depends only
// on whether the file's name is one of the names, and which of the ends it has. Any other
// section name (or a line the reading is not sure of) makes `known` false, and the
// library is asked about every file.
struct NameClasses {
  bool known = true;
  bool slash = false;  // a section name holds a "/": it matches in some folders only
  std::set<std::string> names, ends;

  void Read(std::string_view text);
  void Add(const NameClasses& other);
  // The class of `name`: one character a name and an end, each '1' when it matches.
  std::string Of(std::string_view name) const;
};

class EditorConfigRules {
 public:
  // Whether this build reads .editorconfig files at all (the Windows build does not).
  static bool Available();

  explicit EditorConfigRules(platform::FileReader& fs);
  ~EditorConfigRules();
  EditorConfigRules(const EditorConfigRules&) = delete;
  EditorConfigRules& operator=(const EditorConfigRules&) = delete;

  // The rule for `file`, found in the folder of `file.place` under the name
  // `file.source` shows. Safe from several threads.
  EditorConfigRule For(const BatchFile& file);

 private:
  using Key = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
  struct Config {
    bool read = false;  // a .editorconfig is there
    bool root = false;  // it says root = true
    std::string text;
    std::string shown;  // its path, for messages
    std::string failure;
    NameClasses classes;  // what its sections can tell apart in the names of one folder
  };
  // The .editorconfig files that bear on a folder, nearest first, each with the number of
  // folders it is above that folder.
  struct Chain {
    std::vector<std::pair<const Config*, std::size_t>> configs;
    std::string failure;
  };
  struct FolderRules {
    std::string mirror;   // the folder the library is asked about, "" when no .editorconfig applies
    std::string failure;  // why the rules could not be known
    NameClasses classes;  // of every .editorconfig that bears on it
    // The library's answers by class, when `classes.known`: the folder's own, or those of
    // every folder under the same .editorconfig files.
    std::map<std::string, EditorConfigRule> own_answers;
    std::map<std::string, EditorConfigRule>* answers = &own_answers;
  };

  FolderRules& RulesOf(const platform::Folder& folder, const std::string& folder_path);
  // What the library says of the file at `asked`, a path below the private folder.
  EditorConfigRule Ask(const std::string& asked);
  const Config& ConfigOf(const Key& key, const platform::Folder& folder, const std::string& shown);
  std::string Mirror(const Chain& chain, const std::vector<std::string>& names, std::string& failure);
  Result WriteMirrorFile(const std::string& relative, const std::string& text);
  Result MakeMirrorFolders(const std::string& relative);

  platform::FileReader& fs_;
  std::mutex mutex_;
  int mirror_fd_ = -1;
  std::string mirror_path_;  // the private folder, as made
  std::string mirror_root_;  // the path the library is given for it
  std::vector<std::string> made_;  // below the private folder, in the order made
  std::set<std::string> made_set_;
  std::map<Key, Config> configs_;
  std::map<Key, Chain> chains_;  // by the folder each was found for
  std::map<std::vector<const Config*>, std::map<std::string, EditorConfigRule>> shared_answers_;
  std::map<std::string, FolderRules> folders_;  // by the folder's path as the file's name gives it
  // The copies' paths -> the originals' paths, and the lines put before their own.
  std::map<std::string, std::pair<std::string, int>> shown_configs_;
  std::map<const Config*, std::string> trees_;      // by the topmost .editorconfig of a chain
  std::map<std::string, const Config*> copies_;     // below the private folder
  std::size_t next_tree_ = 0;
};

}  // namespace tarnwhistle::cli
