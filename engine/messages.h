#pragma once

// The messages the window and the command-line tool both show, in UTF-8, so that both
// say the same things in the same words. Captions live with their windows.

#include <initializer_list>
#include <string>
#include <string_view>

#include "line_ending_kind.h"
#include "outcome.h"
#include "platform/reason.h"

namespace tarnwhistle::messages {

inline constexpr std::string_view kProductName = "Tarnwhistle";
inline constexpr std::string_view kVersionText = "Tarnwhistle Ver 1.2";

// What the windows show while a conversion runs.
inline constexpr std::string_view kConverting = "変換しています…";
inline constexpr std::string_view kFinishing = "書き込み中…";

// The fixed text of each outcome: "変換しました", "このファイルは変換できません". A dry
// run's (`planned`) differs where it would be done, not done.
std::string_view Text(Outcome outcome, bool planned = false);

// What a person is told of a result: its outcome's text with the notes that apply after
// it, in full-width brackets: "このファイルは変換できません（3 行目に NUL 文字があります）",
// "変換不要（改行がありません・コピーしました）", "ファイルを読み込めません（アクセスが拒否されました）".
// A source that cannot be opened because nothing is there is "ファイル名が存在しません";
// one that exists but cannot be read never is.
std::string Describe(const Result& result);

// `message` with the notes that are not empty after it, in full-width brackets and
// apart by "・": "このファイルは変換できません（バイナリ ファイルです・コピーしました）".
std::string WithNotes(std::string_view message, std::initializer_list<std::string_view> notes);

}  // namespace tarnwhistle::messages
