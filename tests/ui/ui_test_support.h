// Helpers for the window's tests: a message box seam that records what would
// have been shown, and a fixture that builds GWfrm over an in-memory store.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/memory_source.h"
#include "support/test_support.h"
#include "ui/gwfrm.h"
#include "ui/message_boxes.h"

namespace tollbook::testing {

// Answers every box at once (as if OK was pressed) and records it.
class RecordingBoxes : public ui::MessageBoxes {
 public:
  std::vector<ui::BoxContent> shown;
  std::vector<bool> hadParent;
  // Called while each box "is shown", before it is answered.
  std::function<void(const ui::BoxContent&)> onShow;

  void Show(const ui::BoxContent& box, QWidget* parent) override {
    shown.push_back(box);
    hadParent.push_back(parent != nullptr);
    if (onShow) onShow(box);
  }
  // "TITLE|ICON|TEXT" for each box shown, in order.
  std::vector<std::string> Summaries() const;
};

// Logs in to the in-memory store.
ui::AccountOpener MemoryAccountOpener(std::shared_ptr<mail::MemoryStore> store);

// Finds the control called name in window; fails the test when it is missing.
template <typename Control>
Control* Find(const QWidget& window, const char* name) {
  auto* control = window.findChild<Control*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

// Shows the window and waits until it is exposed, as long as that takes: the
// verdict must not depend on how busy the machine is.
inline bool ShowExposed(QWidget& window) {
  window.show();
  return QTest::qWaitForWindowExposed(&window, std::numeric_limits<int>::max());
}

// A window over an in-memory store whose mailbox is "INBOX" (folder 1), with
// the directory view in a fresh temporary folder.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest();
  // Creates the window (once) and returns it; start-up is not run.
  ui::GWfrm& Window();
  // Creates the window and runs its start-up, which must succeed.
  ui::GWfrm& StartedWindow();

  std::shared_ptr<mail::MemoryStore> store = std::make_shared<mail::MemoryStore>();
  TempDir dir;
  RecordingBoxes boxes;
  std::unique_ptr<ui::GWfrm> window;
};

}  // namespace tollbook::testing
