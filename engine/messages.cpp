#include "messages.h"

#include "platform/system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarnwhistle::messages {

namespace {

// Why an operation failed, in a few words: "アクセスが拒否されました". Empty for kNone.
std::string ReasonText(platform::Reason reason) {
  using platform::Reason;
  switch (reason) {
    case Reason::kNone: return {};
    case Reason::kNotAFile: return "通常のファイルではありません";
    case Reason::kLinkNotFollowed: return "他のユーザーのシンボリック リンクはたどりません";
    case Reason::kOthersFileInSharedFolder: return "共有フォルダーにある他のユーザーのファイルです";
    case Reason::kOwnerNotKept: return "ファイルの所有者を引き継げません";
    case Reason::kChangedWhileRead: return "読み込み中にファイルが変更されました";
    case Reason::kNulCharacter: return "NUL 文字を含んでいます";
    case Reason::kSymbolicLink: return "シンボリック リンクです";
    case Reason::kStopped: return "中止しました";
    case Reason::kSameOutput: return "別のファイルと出力先が同じです";
    case Reason::kControlCharacter: return "最初の改行の前に制御文字があります";
    case Reason::kOthersFolder: return "他のユーザーのフォルダーです";
    case Reason::kFolderTooOpen: return "元のフォルダーより多くのユーザーに開かれたフォルダーです";
    case Reason::kOutputIsSource: return "出力先が変換するファイル自身です";
  }
  const int error = static_cast<int>(reason);
  if (platform::DiskFull(error)) return "ディスクの空き容量が足りません";
  if (platform::StaleFile(error)) return "ファイルが無効になりました (ネットワーク)";
  switch (error) {
    case EACCES:
    case EPERM: return "アクセスが拒否されました";
    case EROFS: return "読み取り専用のファイル システムです";
    case EISDIR: return "フォルダーです";
    case EIO: return "入出力エラーが発生しました";
    case ENOENT: return "ファイルまたはフォルダーがありません";
    case ENOTDIR: return "途中にフォルダーでないものがあります";
    case ENAMETOOLONG: return "名前が長すぎます";
    case ELOOP: return "シンボリック リンクが多すぎます";
    case EFBIG: return "ファイルが大きすぎます";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます";
    case ENOMEM: return "メモリが足りません";
    case EBUSY:
    case ETXTBSY: return "使用中です";
    case EEXIST: return "同じ名前のものがあります";
    case EOPNOTSUPP:
    case EINVAL: return "このファイル システムではできない操作です";
    default:
      // Rare enough not to need words of its own: its name, for a search or a report.
      return "エラー " + platform::ErrorName(error);
  }
}

// Why a file is BINARY, where it was found: "1 行目に制御文字 0x1B があります",
// "3 行目に NUL 文字があります"; empty when nothing was found.
std::string ControlNote(const ControlFound& found) {
  if (found.line == 0) return {};
  char code[16];
  std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(found.unit));
  const std::string where = std::to_string(found.line) + " 行目に";
  return where + (found.unit == 0 ? std::string(" NUL 文字があります") : "制御文字 " + std::string(code) + " があります");
}

}  // namespace

std::string_view Text(Outcome outcome, bool planned) {
  switch (outcome) {
    case Outcome::Ok: return "変換しました";
    case Outcome::AlreadyTarget: return "変換不要";
    case Outcome::NoSourceName: return "変換ファイル名 を指定してください";
    case Outcome::NotConvertible: return "このファイルは変換できません";
    case Outcome::NotDetected: return "ファイル種類の検出 を行ってください";
    case Outcome::NoTarget: return "変換ファイルの種類 を選択してください";
    case Outcome::SameKind: return "変換ファイル形式 が現在のものと同じです";
    case Outcome::SameFile: return "出力ファイル名 が 変換ファイル名 と同じです";
    case Outcome::NoOutputName: return "出力ファイル名 を指定してください";
    case Outcome::NoLineBreak: return "このファイルには改行がありません";
    case Outcome::SourceMissing: return "ファイル名が存在しません";
    case Outcome::SourceCannotOpen:
    case Outcome::SourceReadFailed: return "ファイルを読み込めません";
    case Outcome::OutputCannotWrite: return "出力ファイルに書き込めません";
    case Outcome::ChangedSinceDetected:
      return "検出の後でファイルが変更されました。もう一度 ファイル種類の検出 を行ってください";
    case Outcome::Cancelled: return "中止しました";
    case Outcome::DriveNotReady: return "ドライブの準備ができていません";
    // The batch window's group is 出力ファイルの種類; 変換ファイルの種類 is the main window's.
    case Outcome::NoBatchTarget: return "出力ファイルの種類 を選択してください";
    case Outcome::NoOutputFolder: return "出力フォルダー を指定してください";
    case Outcome::ManualNotOpened: return "マニュアルを開けません（端末で man tarnwhistle を実行してください）";
    case Outcome::SkippedLink: return "シンボリック リンクのため飛ばしました";
    case Outcome::NotDone: return "未処理";
    case Outcome::PassedOver: return "変換中の作業ファイルのため飛ばしました";
    case Outcome::Removed: return planned ? "残っていた作業ファイルを削除します" : "残っていた作業ファイルを削除しました";
    case Outcome::OutputFolderInsideSource: return "出力フォルダーが変換するフォルダーの中にあります";
    case Outcome::OutputIsSource: return "出力先が変換するファイルやフォルダーそのものです";
  }
  return {};
}

std::string Describe(const Result& result) {
  if (result.outcome == Outcome::SourceCannotOpen && result.reason == platform::FromErrno(ENOENT)) {
    return std::string(Text(Outcome::SourceMissing));
  }
  // A stop is its own reason.
  const bool stopped = result.outcome == Outcome::Cancelled || result.outcome == Outcome::NotDone;
  const std::string copied = !result.copied ? "" : result.planned ? "コピー" : "コピーしました";
  return WithNotes(Text(result.outcome, result.planned),
                   {ControlNote(result.found), stopped ? "" : ReasonText(result.reason),
                    result.no_line_break ? "改行がありません" : "", copied});
}

std::string WithNotes(std::string_view message, std::initializer_list<std::string_view> notes) {
  std::string text(message), inside;
  for (std::string_view note : notes) {
    if (note.empty()) continue;
    if (!inside.empty()) inside += "・";
    inside += note;
  }
  return inside.empty() ? text : text + "（" + inside + "）";
}


}  // namespace tarnwhistle::messages
