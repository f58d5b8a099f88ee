#include "store/file_changes.hpp"

#include "index/sqlite.hpp"

#include <system_error>
#include <utility>

namespace core {

namespace fs = std::filesystem;

FileChanges::~FileChanges() {
  (void)undo();  // a change never finished is taken back; there is no one to tell of a failure
}

Result<void> FileChanges::write(const Note& note) {
  auto prepared = NoteFileWrite::prepare(note);
  if (!prepared) return std::unexpected(std::move(prepared.error()));
  Step step;
  step.write.emplace(std::move(*prepared));
  steps_.push_back(std::move(step));
  return {};
}

void FileChanges::made(std::function<Result<void>()> undo, std::function<void()> final) {
  steps_.push_back(Step{std::nullopt, std::move(undo), std::move(final), true});
}

void FileChanges::remove_when_final(fs::path path, fs::path kept) {
  removals_.emplace_back(std::move(path), std::move(kept));
}

Result<void> FileChanges::install() {
  for (Step& step : steps_) {
    if (step.made || !step.write) continue;
    if (auto installed = step.write->install(); !installed) {
      (void)undo();  // the install's own error is the one to report
      return installed;
    }
    step.made = true;
  }
  return {};
}

Result<void> FileChanges::undo() {
  Result<void> result;
  for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
    if (!step->made) continue;
    step->made = false;
    auto undone = step->write ? step->write->undo() : step->undo ? step->undo() : Result<void>{};
    if (!undone && result) result = std::move(undone);
  }
  steps_.clear();
  removals_.clear();
  return result;
}

void FileChanges::finish() {
  for (Step& step : steps_) {
    if (!step.made) continue;
    step.made = false;
    if (step.write) step.write->finish();
    if (step.final) step.final();
  }
  for (const auto& [path, kept] : removals_) {
    std::error_code ec;
    if (path == kept || fs::equivalent(path, kept, ec) || ec) continue;  // in doubt, a second copy beats a lost note
    fs::remove(path, ec);
  }
  steps_.clear();
  removals_.clear();
}

Result<void> commit_change(Transaction& tx, FileChanges& files) {
  if (auto installed = files.install(); !installed) return installed;
  if (auto committed = tx.commit(); !committed) {
    (void)files.undo();  // the commit's failure is the one to report
    return committed;
  }
  files.finish();
  return {};
}

}  // namespace core
