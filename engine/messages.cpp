#include "messages.h"

#include <cerrno>
#include <cstring>

namespace tarnwhistle::messages {

std::string ReasonText(platform::Reason reason) {
  using platform::Reason;
  switch (reason) {
    case Reason::kNone: return {};
    case Reason::kNotAFile: return "通常のファイルではありません";
    case Reason::kLinkNotFollowed: return "他のユーザーのシンボリック リンクはたどりません";
    case Reason::kOthersFileInSharedFolder: return "共有フォルダーにある他のユーザーのファイルです";
    case Reason::kOwnerNotKept: return "ファイルの所有者を引き継げません";
    case Reason::kChangedWhileRead: return "読み込み中にファイルが変更されました";
    case Reason::kChangedSinceDetected: return "検出の後でファイルが変更されました";
    case Reason::kSymbolicLink: return "シンボリック リンクです";
    case Reason::kStopped: return std::string(kCancelled);
    case Reason::kSameOutput: return "別のファイルと出力先が同じです";
    case Reason::kOthersFolder: return "他のユーザーのフォルダーです";
    case Reason::kFolderTooOpen: return "元のフォルダーより多くのユーザーに開かれたフォルダーです";
    case Reason::kOutputIsSource: return "出力先が変換するファイル自身です";
  }
  switch (const int error = static_cast<int>(reason)) {
    case EACCES:
    case EPERM: return "アクセスが拒否されました";
    case ENOSPC:
    case EDQUOT: return "ディスクの空き容量が足りません";
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
    case ESTALE: return "ファイルが無効になりました (ネットワーク)";
    case EOPNOTSUPP:
    case EINVAL: return "このファイル システムではできない操作です";
    default: {
      // Rare enough not to need words of its own: its name, for a search or a report.
      const char* name = ::strerrorname_np(error);
      return "エラー " + (name != nullptr ? std::string(name) : std::to_string(error));
    }
  }
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

std::string WithReason(std::string_view message, platform::Reason reason) {
  return WithNotes(message, {ReasonText(reason)});
}

std::string ForStatus(Status status, platform::Reason reason) {
  switch (status) {
    case Status::SourceCannotOpen:
      return reason == platform::FromErrno(ENOENT) ? std::string(kSourceMissing) : WithReason(kSourceUnreadable, reason);
    case Status::SourceReadFailed: return WithReason(kSourceUnreadable, reason);
    case Status::SourceNotText: return WithNotes(kBinarySource, {kNulNote});
    case Status::OutputCannotWrite: return WithReason(kOutputUnwritable, reason);
    case Status::ChangedSinceDetected: return std::string(kChangedSinceDetected);
    case Status::Ok:
    case Status::Cancelled: break;
  }
  return {};
}

}  // namespace tarnwhistle::messages
