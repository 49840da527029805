// The header block split against vmime's own header parser: the same fields,
// with the same names and bounds, and the same end of the header, on awkward
// blocks and on many random ones.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vmime/header.hpp>
#include <vmime/headerField.hpp>

#include "mail/mime/header_fields.h"
#include "mail/vmime_init.h"

namespace tollbook::mail {
namespace {

// What vmime makes of the block, in the split's terms.
HeaderFields VmimeSplit(const std::string& block) {
  vmime::header header;
  std::size_t end = 0;
  header.parse(block, 0, block.size(), &end);
  HeaderFields fields;
  fields.end = end;
  for (const auto& field : header.getFieldList()) {
    fields.fields.push_back({field->getParsedOffset(),
                             field->getParsedOffset() + field->getParsedLength(), {}});
  }
  return fields;
}

// Empty when both agree, else what differs.
std::string Compare(const std::string& block) {
  const HeaderFields ours = SplitHeaderFields(block);
  const HeaderFields theirs = VmimeSplit(block);
  std::string why;
  if (ours.end != theirs.end) {
    why += "end " + std::to_string(ours.end) + " != " + std::to_string(theirs.end) + "; ";
  }
  if (ours.fields.size() != theirs.fields.size()) {
    return why + std::to_string(ours.fields.size()) + " fields != " +
           std::to_string(theirs.fields.size());
  }
  vmime::header header;
  header.parse(block, 0, block.size());
  const auto named = header.getFieldList();
  for (std::size_t i = 0; i < ours.fields.size(); ++i) {
    const auto& a = ours.fields[i];
    const auto& b = theirs.fields[i];
    if (a.begin != b.begin || a.end != b.end) {
      why += "field " + std::to_string(i) + " [" + std::to_string(a.begin) + ", " +
             std::to_string(a.end) + ") != [" + std::to_string(b.begin) + ", " +
             std::to_string(b.end) + "); ";
    }
    if (std::string(a.name) != named[i]->getName()) {
      why += "field " + std::to_string(i) + " named \"" + std::string(a.name) + "\" != \"" +
             named[i]->getName() + "\"; ";
    }
  }
  return why;
}

std::string Shown(const std::string& block) {
  std::string shown;
  for (char c : block) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  return shown;
}

TEST(HeaderFields, AgreeWithVmimeOnAwkwardBlocks) {
  EnsureVmimeInitialised();
  const std::string blocks[] = {
      "",
      "\n",
      "\r\n",
      "Content-Type: text/plain\r\n\r\nbody",
      "From: a@b\nTo: c@d\nContent-Type: multipart/mixed;\n boundary=x\n\nbody",
      "Subject: folded\r\n\tonce\r\n  and again\r\nContent-Disposition: attachment\r\n\r\n",
      "Content-Type: text/plain",                      // no line end at all
      "Content-Type: text/plain\r\n",                  // no blank line after it
      "Content-Type : spaced name\n\n",
      "Content-Type\t:\ttab\n\n",
      "no colon here\nContent-Type: text/plain\n\n",
      " starts with a blank\nContent-Type: a/b\n\n",
      "Content-Type: a/b\n \nContent-Disposition: attachment\n\n",  // blank-only line
      "Content-Type: a/b\r\n \t \r\nX: y\r\n\r\n",
      "Content-Type: a/b\r\n \r\n",
      "A: b\r\r\nC: d\r\n\r\n",                        // lone CR
      "A: b\rC: d\n\n",
      "A: b\r\n\tc\r\n\r\n",
      "A: \r\n\r\n",
      "A:\r\n b\r\n c\r\n\r\n",
      "A: b\r\n \r\nc\r\n",
      ":\n\n",
      "A:b\n\tc\nD:e",
      "A: b\r\n\r\n\r\n",
      "\t\n",
      "  \r\nA: b\n\n",
      std::string("A: b\0c\nD: e\n\n", 13),
      "A: x\r\n\rB: y\r\n\r\n",
      "A: x\n\r\nB: y\n\n",
      "A: x\r\n \r\n",
      "A: x\r\n\t",
      "A: x\r",
      "A: x\n ",
  };
  for (const auto& block : blocks) {
    EXPECT_EQ(Compare(block), "") << "block \"" << Shown(block) << "\"";
  }
}

TEST(HeaderFields, AgreeWithVmimeOnRandomBlocks) {
  EnsureVmimeInitialised();
  // Few letters, many of the bytes the split turns on.
  const std::string alphabet("Ab-:  \t\t\r\r\n\n\n\0", 14);
  std::mt19937 random(2026);
  std::uniform_int_distribution<std::size_t> length(0, 60);
  std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
  int disagreements = 0;
  for (int n = 0; n < 40000 && disagreements < 5; ++n) {
    std::string block;
    for (std::size_t i = length(random); i > 0; --i) block += alphabet[letter(random)];
    const std::string why = Compare(block);
    if (!why.empty()) {
      ++disagreements;
      ADD_FAILURE() << "block \"" << Shown(block) << "\": " << why;
    }
  }
}

TEST(HeaderFields, ContentFieldsByNameCaseAside) {
  EXPECT_TRUE(IsContentField("Content-Type"));
  EXPECT_TRUE(IsContentField("CONTENT-disposition"));
  EXPECT_TRUE(IsContentField("content-"));
  EXPECT_FALSE(IsContentField("Content"));
  EXPECT_FALSE(IsContentField("X-Content-Type"));
  EXPECT_FALSE(IsContentField("Contents-Type"));
  EXPECT_FALSE(IsContentField(""));
}

}  // namespace
}  // namespace tollbook::mail
