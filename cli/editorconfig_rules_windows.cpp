#include "editorconfig_rules.h"

// Debian builds libeditorconfig for Linux only: the Windows build reads no .editorconfig.
// --editorconfig is refused there (EditorConfigRules::Available), and check without -t
// finds no end_of_line for any file, so that it tells mixed files only.

namespace tarnwhistle::cli {

bool EditorConfigRules::Available() { return false; }

EditorConfigRules::EditorConfigRules(platform::FileReader& fs) : fs_(fs) {}

EditorConfigRules::~EditorConfigRules() = default;

EditorConfigRule EditorConfigRules::For(const BatchFile&) { return {}; }

}  // namespace tarnwhistle::cli
