#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tollbook::testing {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tollbook-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << pattern;
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RecordingFrontEnd::SetProgressCaption(std::string_view caption) {
  events.push_back("progress " + std::string(caption));
}

void RecordingFrontEnd::SetCurrentCaption(std::string_view caption) {
  if (recordPositions) events.push_back("current " + std::string(caption));
}

void RecordingFrontEnd::ShowMessageBox(const MessageBoxRequest& box) {
  static const char* const kIcons[] = {"none", "information", "warning", "critical"};
  boxes.push_back(box);
  events.push_back("box " + box.title + "|" + kIcons[static_cast<int>(box.icon)] + "|" + box.text);
}

void RecordingFrontEnd::SetBusyPointer(bool busy) {
  events.push_back(busy ? "busy on" : "busy off");
}

void RecordingFrontEnd::ReportRunFailure(std::string_view message) {
  failures.emplace_back(message);
  events.push_back("failure " + std::string(message));
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RunProjectScript(const std::string& name, const std::string& arguments) {
  const std::string command = ShellQuoted(std::string(TOLLBOOK_SOURCE_DIR) + "/scripts/" + name) +
                              " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  if (::pclose(pipe) != 0) throw std::runtime_error(name + " " + arguments + " failed: " + output);
  return output;
}

}  // namespace tollbook::testing
