// Saves dragged from one card window onto another. Every card window of the program is
// known here while it exists, and each opening of a card has a number of its own; a drag
// carries this program's mark, that number and the saves' folder names. A drop finds the
// window by the number only while that window still shows the same card, so a drag that
// outlives its card, or comes from another program, finds nothing. Each save found goes
// onto this card by the path every import takes.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_messages.h"
#include "ui/card_window.h"

namespace ui {

namespace {

// The card windows that exist, in the order they were made. The shells run every window
// on one thread.
std::vector<CardWindow*>& Windows() {
  static std::vector<CardWindow*> windows;
  return windows;
}

// This run of the program's mark, so that a drag from another one (another process with
// numbers of its own) is never taken for one of ours.
const std::string& ProgramMark() {
  static const std::string mark = [] {
    std::random_device device;
    const std::uint64_t value = (std::uint64_t{device()} << 32) ^ device();
    char text[16];
    std::to_chars_result end = std::to_chars(text, text + sizeof text, value, 16);
    return "moravelt " + std::string(text, end.ptr);
  }();
  return mark;
}

// What a drag carries: "MARK NUMBER\n", then each folder name followed by a NUL, which no
// name on a card holds.
struct DraggedSaves {
  std::uint64_t shown = 0;
  std::vector<std::string> folders;
};

std::string DragText(std::uint64_t shown, const std::vector<std::string>& folders) {
  std::string text = ProgramMark() + ' ' + std::to_string(shown) + '\n';
  for (const std::string& folder : folders) {
    text += folder;
    text += '\0';
  }
  return text;
}

std::optional<DraggedSaves> ReadDrag(std::string_view text) {
  const std::string& mark = ProgramMark();
  if (!text.starts_with(mark) || text.size() <= mark.size() || text[mark.size()] != ' ') return std::nullopt;
  text.remove_prefix(mark.size() + 1);
  DraggedSaves dragged;
  const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), dragged.shown);
  if (fault != std::errc() || end == text.data() + text.size() || *end != '\n' || dragged.shown == 0)
    return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  while (!text.empty()) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string_view::npos || nul == 0) return std::nullopt;
    dragged.folders.emplace_back(text.substr(0, nul));
    text.remove_prefix(nul + 1);
  }
  if (dragged.folders.empty()) return std::nullopt;
  return dragged;
}

}  // namespace

CardWindow::CardWindow(Platform& platform, FileCommands& commands)
    : platform_(platform), view_(platform.Cards()), commands_(commands) {
  Windows().push_back(this);
}

CardWindow::~CardWindow() { std::erase(Windows(), this); }

std::uint64_t CardWindow::NextShownCard() {
  static std::uint64_t last = 0;
  return ++last;
}

CardWindow* CardWindow::DraggedFrom(std::string_view dragged) {
  const std::optional<DraggedSaves> saves = ReadDrag(dragged);
  if (!saves) return nullptr;
  for (CardWindow* w : Windows())
    if (w->card_ && w->shown_ == saves->shown) return w;
  return nullptr;
}

std::string CardWindow::DragSelected() const {
  if (!card_) return {};
  std::vector<std::string> folders;
  for (int row : view_.SelectedRows())
    if (row >= 0 && static_cast<std::size_t>(row) < saves_.size() && !saves_[static_cast<std::size_t>(row)].deleted)
      folders.push_back(saves_[static_cast<std::size_t>(row)].folder);
  return folders.empty() ? std::string() : DragText(shown_, folders);
}

bool CardWindow::TakesDrop(std::string_view dragged) const {
  const CardWindow* from = DraggedFrom(dragged);
  return card_ && from && from != this;
}

void CardWindow::OnDropSaves(std::string_view dragged) {
  if (!TakesDrop(dragged)) return;
  CardWindow& from = *DraggedFrom(dragged);
  const DraggedSaves saves = *ReadDrag(dragged);
  std::vector<std::string> problems;
  for (const std::string& folder : saves.folders) {
    // As the other window's Export... reads it: the card as it is now.
    card::OpenedSave opened = from.card_->OpenSave(folder);
    if (!opened.save) {
      problems.push_back(card::messages::OpenSaveMessage(opened.result, folder));
      continue;
    }
    ImportSave(*opened.save, problems);
  }
  ShowCard();
  Report(problems);
}

}  // namespace ui
