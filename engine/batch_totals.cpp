#include "batch_file.h"

namespace tarnwhistle {

void BatchTotals::Add(const Result& result) {
  switch (result.outcome) {
    case Outcome::Ok: ++converted; break;
    case Outcome::AlreadyTarget: ++already_target; break;
    case Outcome::NotConvertible: ++not_convertible; break;
    case Outcome::SkippedLink: ++skipped; break;
    case Outcome::NotDone:
    case Outcome::Cancelled: ++not_done; break;
    case Outcome::PassedOver: ++passed_over; break;
    case Outcome::Removed: ++removed; break;
    default: ++failed; break;
  }
  if (result.copied) ++copied;
}

std::size_t BatchTotals::Files() const {
  return converted + already_target + not_convertible + skipped + failed + not_done + passed_over + removed;
}

std::string BatchSummary(const BatchTotals& totals) {
  std::string text = "変換 " + std::to_string(totals.converted) + "・変換不要 " + std::to_string(totals.already_target) +
                     "・変換できません " + std::to_string(totals.not_convertible) + "・失敗 " +
                     std::to_string(totals.failed);
  if (totals.copied > 0) text += "・コピー " + std::to_string(totals.copied);
  if (totals.skipped > 0) text += "・リンク " + std::to_string(totals.skipped);
  if (totals.passed_over > 0) text += "・作業中 " + std::to_string(totals.passed_over);
  if (totals.removed > 0) text += "・作業ファイル削除 " + std::to_string(totals.removed);
  return text;
}

}  // namespace tarnwhistle
