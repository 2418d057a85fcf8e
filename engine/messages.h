#pragma once

// The messages the window and the command-line tool both show, in UTF-8, so that both
// say the same things in the same words. Captions live with their windows.

#include <initializer_list>
#include <string>
#include <string_view>

#include "status.h"
#include "platform/reason.h"

namespace tarnwhistle::messages {

inline constexpr std::string_view kProductName = "Tarnwhistle";
inline constexpr std::string_view kVersionText = "Tarnwhistle Ver 1.2";

// Refusals of the Convert command, in the order its checks run.
inline constexpr std::string_view kNoSourceName = "変換ファイル名 を指定してください";
inline constexpr std::string_view kBinarySource = "このファイルは変換できません";
inline constexpr std::string_view kNotDetected = "ファイル種類の検出 を行ってください";
inline constexpr std::string_view kNoTarget = "変換ファイルの種類 を選択してください";
inline constexpr std::string_view kSameKind = "変換ファイル形式 が現在のものと同じです";
inline constexpr std::string_view kSameFile = "出力ファイル名 が 変換ファイル名 と同じです";
inline constexpr std::string_view kNoOutputName = "出力ファイル名 を指定してください";

// Outcomes of working on the files.
inline constexpr std::string_view kConverting = "変換しています…";
inline constexpr std::string_view kFinishing = "書き込み中…";
inline constexpr std::string_view kConverted = "変換しました";
inline constexpr std::string_view kCancelled = "中止しました";
inline constexpr std::string_view kAlreadyTarget = "変換不要";  // a file of a batch already of the target kind
inline constexpr std::string_view kNoLineBreak = "このファイルには改行がありません";
inline constexpr std::string_view kChangedSinceDetected =
    "検出の後でファイルが変更されました。もう一度 ファイル種類の検出 を行ってください";
inline constexpr std::string_view kSourceMissing = "ファイル名が存在しません";
inline constexpr std::string_view kSourceUnreadable = "ファイルを読み込めません";
inline constexpr std::string_view kOutputUnwritable = "出力ファイルに書き込めません";
inline constexpr std::string_view kDriveNotReady = "ドライブの準備ができていません";
// Refusals of a whole batch into an output folder.
inline constexpr std::string_view kOutputFolderInsideSource = "出力フォルダーが変換するフォルダーの中にあります";
inline constexpr std::string_view kOutputIsSource = "出力先が変換するファイルやフォルダーそのものです";

// Why an operation failed, in a few words: "アクセスが拒否されました". Empty for kNone.
std::string ReasonText(platform::Reason reason);

// Why a file is not text: a NUL among its bytes.
inline constexpr std::string_view kNulNote = "NUL 文字を含んでいます";

// `message` with the notes that are not empty after it, in full-width brackets and
// apart by "・": "このファイルは変換できません（バイナリ ファイルです・コピーしました）".
std::string WithNotes(std::string_view message, std::initializer_list<std::string_view> notes);

// `message` with the reason after it in full-width brackets:
// "ファイルを読み込めません（アクセスが拒否されました）"; `message` alone without one.
std::string WithReason(std::string_view message, platform::Reason reason);

// The message for a failed operation on files, with its reason; empty for Ok and
// Cancelled, which have none of their own. A source that is missing is
// "ファイル名が存在しません"; one that exists but cannot be read never is.
std::string ForStatus(Status status, platform::Reason reason);

}  // namespace tarnwhistle::messages
