#include "editorconfig_rules.h"

#include <editorconfig/editorconfig.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "engine/messages.h"

namespace tarnwhistle::cli {
namespace {

using Rule = EditorConfigRule;

constexpr const char* kConfigName = ".editorconfig";
// No .editorconfig is anywhere near this: a larger one is refused rather than read.
constexpr std::uint64_t kMostConfigBytes = 1 << 20;
// Folders climbed above a file at most, against a file system whose ".." never ends.
constexpr std::size_t kMostLevels = 4096;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Whether the lines before the first section say root = true. Read here because the
// library has no call that reads one file: it needs to know where to stop climbing.
bool SaysRoot(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') return false;
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && Lower(Trim(std::string_view(line).substr(0, equals))) == "root" &&
        Lower(Trim(std::string_view(line).substr(equals + 1))) == "true") {
      return true;
    }
  }
  return false;
}

std::string Join(const std::vector<std::string>& names, std::size_t from, std::size_t to) {
  std::string path;
  for (std::size_t i = from; i < to; ++i) path += (path.empty() ? "" : "/") + names[i];
  return path;
}

}  // namespace

bool EditorConfigRules::Available() { return true; }

EditorConfigRules::EditorConfigRules(platform::FileReader& fs) : fs_(fs) {}

EditorConfigRules::~EditorConfigRules() {
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
    const bool folder = made->ends_with("/");
    ::unlinkat(mirror_fd_, folder ? made->substr(0, made->size() - 1).c_str() : made->c_str(),
               folder ? AT_REMOVEDIR : 0);
  }
  if (mirror_fd_ >= 0) {
    ::close(mirror_fd_);
    ::rmdir(mirror_path_.c_str());
  }
}

const EditorConfigRules::Config& EditorConfigRules::ConfigOf(const Key& key, const platform::Folder& folder,
                                                             const std::string& shown) {
  const auto [found, fresh] = configs_.try_emplace(key);
  Config& config = found->second;
  if (!fresh) return config;
  config.shown = platform::JoinPath(shown, kConfigName);
  auto opened = fs_.OpenForRead({folder, kConfigName});
  if (!opened) {
    if (opened.reason != platform::FromErrno(ENOENT)) {
      config.failure = messages::Describe({Outcome::SourceCannotOpen, opened.reason});
    }
    return config;
  }
  config.read = true;
  if (opened.value->Opened().identity.size > kMostConfigBytes) {
    config.failure = messages::Describe({Outcome::SourceReadFailed, platform::FromErrno(EFBIG)});
    return config;
  }
  std::uint8_t buffer[8192];
  for (;;) {
    const auto got = opened.value->Read(buffer);
    if (!got) {
      config.failure = messages::Describe({Outcome::SourceReadFailed, got.reason});
      return config;
    }
    if (got.value == 0) break;
    config.text.append(reinterpret_cast<const char*>(buffer), got.value);
    if (config.text.size() > kMostConfigBytes) {
      config.failure = messages::Describe({Outcome::SourceReadFailed, platform::FromErrno(EFBIG)});
      return config;
    }
  }
  if (config.text.starts_with("\xef\xbb\xbf")) config.text.erase(0, 3);
  config.root = SaysRoot(config.text);
  config.classes.Read(config.text);
  return config;
}

Result EditorConfigRules::MakeMirrorFolders(const std::string& relative) {
  if (mirror_fd_ < 0) {
    const char* temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/tarnwhistle-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      return {Outcome::OutputCannotWrite, platform::FromErrno(errno)};
    }
    mirror_path_ = pattern;
    mirror_fd_ = ::open(pattern.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (mirror_fd_ < 0) {
      const Result failed{Outcome::OutputCannotWrite, platform::FromErrno(errno)};
      ::rmdir(pattern.c_str());
      return failed;
    }
    // Through /proc the library climbs only /, /proc, /proc/self and /proc/self/fd above
    // the copies: never a folder such as /tmp, where anyone may leave a .editorconfig.
    const std::string through_proc = "/proc/self/fd/" + std::to_string(mirror_fd_);
    struct stat st;
    mirror_root_ = ::stat(through_proc.c_str(), &st) == 0 ? through_proc : mirror_path_;
  }
  std::size_t at = 0;
  while ((at = relative.find('/', at)) != std::string::npos) {
    const std::string folder = relative.substr(0, at++) + "/";
    if (made_set_.contains(folder)) continue;
    if (::mkdirat(mirror_fd_, folder.c_str(), 0700) != 0) {
      return {Outcome::OutputCannotWrite, platform::FromErrno(errno)};
    }
    made_set_.insert(folder);
    made_.push_back(folder);
  }
  return {};
}

Result EditorConfigRules::WriteMirrorFile(const std::string& relative, const std::string& text) {
  if (Result made = MakeMirrorFolders(relative); !made.ok()) return made;
  const int fd = ::openat(mirror_fd_, relative.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
      return {Outcome::OutputCannotWrite, platform::FromErrno(errno)};
    }
  made_set_.insert(relative);
  made_.push_back(relative);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + written, text.size() - written);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      const Result failed{Outcome::OutputCannotWrite, platform::FromErrno(wrote < 0 ? errno : ENOSPC)};
      ::close(fd);
      return failed;
    }
    written += static_cast<std::size_t>(wrote);
  }
  ::close(fd);
  return {};
}

// The copies of a chain's files in a tree of their own, each as many folders above the
// folder asked about as its original is: patterns with a "/" match against the path
// below the .editorconfig's own folder. The topmost copy says root = true, so that the
// library takes nothing from above the tree.
std::string EditorConfigRules::Mirror(const Chain& chain, const std::vector<std::string>& names, std::string& failure) {
  const std::size_t top = chain.configs.back().second;
  std::vector<std::string> below(top, "-");  // the names of the folders between the top and the folder asked about
  for (std::size_t i = 0; i < top && i < names.size(); ++i) below[top - 1 - i] = names[names.size() - 1 - i];
  // One tree for each topmost .editorconfig, shared by every folder below it; a copy
  // that would land where another file's copy is (two paths to one folder, told apart by
  // name only) starts a tree of its own.
  const Config* const top_config = chain.configs.back().first;
  std::string tree = trees_.try_emplace(top_config, std::to_string(trees_.size() + 1)).first->second;
  const auto place_of = [&](const std::string& in, std::size_t level) {
    const std::string folder = Join(below, 0, top - level);
    return in + "/" + (folder.empty() ? "" : folder + "/") + kConfigName;
  };
  for (const auto& [config, level] : chain.configs) {
    const auto copied = copies_.find(place_of(tree, level));
    if (copied != copies_.end() && copied->second != config) {
      tree = std::to_string(++next_tree_);
      tree.insert(0, 1, 'x');
      break;
    }
  }
  for (const auto& [config, level] : chain.configs) {
    const std::string relative = place_of(tree, level);
    if (copies_.contains(relative)) continue;
    std::string text = config == top_config ? "root = true\n" : "";
    text += config->text;
    if (const Result written = WriteMirrorFile(relative, text); !written.ok()) {
      failure = messages::Describe(written);
      return {};
    }
    copies_[relative] = config;
    shown_configs_[mirror_root_ + "/" + relative] = {config->shown, config == top_config ? 1 : 0};
  }
  const std::string folder = Join(below, 0, top);
  return mirror_root_ + "/" + tree + (folder.empty() ? "" : "/" + folder);
}

EditorConfigRules::FolderRules& EditorConfigRules::RulesOf(const platform::Folder& folder,
                                                                 const std::string& folder_path) {
  const auto [found, fresh] = folders_.try_emplace(folder_path);
  FolderRules& rules = found->second;
  if (!fresh) return rules;
  // The folder's names as given, made absolute without resolving links.
  // (None when the working folder was removed: the folders between a .editorconfig and
  // the file are then named "-", which only sections naming folders could tell.)
  std::error_code no_folder;
  const std::filesystem::path shown = std::filesystem::absolute(folder_path, no_folder).lexically_normal();
  std::vector<std::string> names;
  for (const auto& name : shown) {
    if (name != "/" && !name.empty()) names.push_back(name.string());
  }
  Chain chain;
  platform::Folder at = folder;
  Key key = fs_.StatFolder(at).identity.Key();
  const Key start = key;
  for (std::size_t level = 0; level < kMostLevels; ++level) {
    // A folder above that was asked about before holds the rest of the chain.
    if (const auto known = chains_.find(key); level > 0 && known != chains_.end()) {
      chain.failure = known->second.failure;
      for (const auto& [config, above] : known->second.configs) chain.configs.emplace_back(config, above + level);
      break;
    }
    std::string here = "/";
    here += level <= names.size() ? Join(names, 0, names.size() - level) : std::string("…");
    const Config& config = ConfigOf(key, at, here);
    if (!config.failure.empty()) {
      chain.failure = config.shown + ": " + config.failure;
      break;
    }
    if (config.read) chain.configs.emplace_back(&config, level);
    if (config.root) break;
    const auto parent = fs_.OpenFolder({at, ".."});
    if (!parent) break;
    const Key above = fs_.StatFolder(parent.value).identity.Key();
    if (above == key) break;  // the root is its own parent
    at = parent.value;
    key = above;
  }
  chains_[start] = chain;
  rules.failure = chain.failure;
  if (!rules.failure.empty() || chain.configs.empty()) return rules;
  std::vector<const Config*> configs;
  for (const auto& [config, level] : chain.configs) {
    rules.classes.Add(config->classes);
    configs.push_back(config);
  }
  rules.mirror = Mirror(chain, names, rules.failure);
  // Without a "/" in any section name, where a file is does not matter: every folder
  // under the same .editorconfig files shares the answers.
  rules.answers = rules.classes.slash ? &rules.own_answers : &shared_answers_[configs];
  return rules;
}

EditorConfigRule EditorConfigRules::For(const BatchFile& file) {
  const std::string_view source = file.source;
  const std::size_t slash = source.rfind('/');
  const std::string folder(slash == std::string_view::npos ? std::string_view(".") : source.substr(0, slash + 1));
  std::string mirror, name_class;
  FolderRules* rules = nullptr;
  {
    std::lock_guard lock(mutex_);
    rules = &RulesOf(file.place.folder, folder);
    if (!rules->failure.empty()) return {Rule::State::Failed, LineEndingKind::None, rules->failure};
    mirror = rules->mirror;
    if (!mirror.empty() && rules->classes.known) {
      name_class = rules->classes.Of(file.place.name);
      const auto answered = rules->answers->find(name_class);
      if (answered != rules->answers->end()) return answered->second;
    }
  }
  if (mirror.empty()) return {};
  Rule rule = Ask(mirror + "/" + file.place.name);
  std::lock_guard lock(mutex_);
  if (rule.state == Rule::State::Failed) {
    // The library reads every .editorconfig of the chain whatever the name: one it cannot
    // parse fails every file of the folder, and it is asked no more (on that path it also
    // leaks what it had read).
    rules->failure = rule.note;
  } else if (rules->classes.known) {
    rules->answers->emplace(name_class, rule);
  }
  return rule;
}

EditorConfigRule EditorConfigRules::Ask(const std::string& asked) {
  const editorconfig_handle handle = editorconfig_handle_init();
  const int parsed = editorconfig_parse(asked.c_str(), handle);
  Rule rule;
  if (parsed != 0) {
    std::string where;
    int line = parsed;
    if (const char* in = editorconfig_handle_get_err_file(handle); in != nullptr) {
      std::lock_guard lock(mutex_);
      const auto original = shown_configs_.find(in);
      if (original != shown_configs_.end()) {
        where = original->second.first + ": ";
        line -= original->second.second;  // the root = true put at the top of the topmost copy
      }
    }
    rule = {Rule::State::Failed, LineEndingKind::None,
            where + (parsed > 0 ? "EditorConfig として読めません（" + std::to_string(line) + " 行目付近）"
                                : std::string(editorconfig_get_error_msg(parsed)))};
  } else {
    const int count = editorconfig_handle_get_name_value_count(handle);
    for (int i = 0; i < count; ++i) {
      const char* name = nullptr;
      const char* value = nullptr;
      editorconfig_handle_get_name_value(handle, i, &name, &value);
      if (name == nullptr || value == nullptr || std::string_view(name) != "end_of_line") continue;
      const std::string said = Lower(value);
      if (said == "lf") {
        rule = {Rule::State::Set, LineEndingKind::Unix, {}};
      } else if (said == "crlf") {
        rule = {Rule::State::Set, LineEndingKind::MsDos, {}};
      } else if (said == "cr") {
        rule = {Rule::State::Set, LineEndingKind::Mac, {}};
      } else {
        rule = {Rule::State::Unset, LineEndingKind::None, said == "unset" ? "" : "end_of_line = " + said};
      }
    }
  }
  editorconfig_handle_destroy(handle);
  return rule;
}

}  // namespace tarnwhistle::cli
