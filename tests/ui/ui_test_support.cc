#include "ui_test_support.h"

#include <QString>

namespace tollbook::testing {

std::vector<std::string> RecordingBoxes::Summaries() const {
  std::vector<std::string> summaries;
  for (const auto& box : shown) {
    const char* icon = box.icon == QMessageBox::NoIcon        ? "none"
                       : box.icon == QMessageBox::Information ? "information"
                       : box.icon == QMessageBox::Warning     ? "warning"
                       : box.icon == QMessageBox::Critical    ? "critical"
                                                              : "question";
    summaries.push_back(box.title.toStdString() + "|" + icon + "|" + box.text.toStdString());
  }
  return summaries;
}

ui::AccountOpener MemoryAccountOpener(std::shared_ptr<mail::MemoryStore> store) {
  return [store] {
    OpenedAccount opened;
    opened.session = mail::CreateMemorySession(store);
    opened.account = opened.session->Login("", "");
    return opened;
  };
}

WindowTest::WindowTest() { store->folders.push_back({"INBOX", {}}); }

ui::GWfrm& WindowTest::Window() {
  if (!window) {
    auto store = this->store;
    window = std::make_unique<ui::GWfrm>(MemoryAccountOpener(store), boxes,
                                         QString::fromStdString(dir.Path()));
  }
  return *window;
}

ui::GWfrm& WindowTest::StartedWindow() {
  ui::GWfrm& w = Window();
  EXPECT_TRUE(w.Form_Load());
  return w;
}

}  // namespace tollbook::testing
