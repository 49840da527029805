// The attachment scan against vmime's full parse and attachment helper, on
// message files of awkward shapes: both must find the same attachments, with
// the same names and the same decoded bytes, and the names are pinned too.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "mail/mime/attachment.h"
#include "mail/mime/file_stream.h"
#include "mail/mime/scan.h"
#include "mail/vmime_init.h"
#include "support/test_support.h"

namespace tollbook::mail {
namespace {

using testing::TempDir;
using testing::WriteFile;

struct Found {
  std::vector<std::string> names;
  std::vector<std::string> contents;
};

Found Describe(const std::vector<vmime::shared_ptr<const vmime::attachment>>& attachments,
               MimeFileStream& stream) {
  Found found;
  for (const auto& attachment : attachments) {
    found.names.push_back(MimeAttachmentName(*attachment, stream));
    std::ostringstream content;
    WriteMimeAttachmentContent(*attachment, stream, content);
    found.contents.push_back(content.str());
  }
  return found;
}

std::string CrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

struct Case {
  const char* what;
  std::string message;
  std::vector<std::string> names;  // of the attachments, in order
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"nested multiparts",
       "Subject: x\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"out\"\n\n"
       "--out\nContent-Type: multipart/alternative; boundary=in\n\n"
       "--in\nContent-Type: text/plain\n\nplain\n--in\nContent-Type: text/html\n\n<p>html</p>\n--in--\n"
       "--out\nContent-Type: application/octet-stream; name=\"acct\"\n"
       "Content-Transfer-Encoding: base64\n\naGVsbG8K\n"
       "--out\nContent-Type: text/plain\nContent-Disposition: attachment; filename=\"b.txt\"\n\n"
       "second\n--out--\n",
       {"acct", "b.txt"}},
      {"missing closing boundary",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nbody\n"
       "--b\nContent-Type: application/pdf; name=late.pdf\n\nlast part runs to the end\n",
       {"late.pdf"}},
      {"nested closing boundary missing, its text further on",
       "Content-Type: multipart/mixed; boundary=o\n\n"
       "--o\nContent-Type: multipart/mixed; boundary=in7\n\n"
       "--in7\nContent-Type: text/plain\n\nt\n--in7\nContent-Type: image/png; name=a.png\n\npng\n"
       "--o\nContent-Type: application/zip; name=b.zip\n\nzip\n--o--\nepilogue in7\n",
       {"b.zip"}},
      {"nested closing boundary missing altogether",
       "Content-Type: multipart/mixed; boundary=o\n\n"
       "--o\nContent-Type: multipart/mixed; boundary=in7\n\n"
       "--in7\nContent-Type: text/plain\n\nt\n--in7\nContent-Type: image/png; name=a.png\n\npng\n"
       "--o\nContent-Type: application/zip; name=b.zip\n\nzip\n--o--\n",
       {"a.png", "b.zip"}},
      {"boundary-like lines inside bodies",
       "Content-Type: multipart/mixed; boundary=bnd\n\n"
       "--bnd\nContent-Type: text/plain\n\n--bndX\n--bnd-more\n --bnd\nx--bnd\n"
       "--bnd \t\nContent-Type: text/csv; name=\"t.csv\"\nContent-Disposition: attachment\n\n"
       "a,b\n--bnd--\n",
       {"t.csv"}},
      {"preamble and epilogue with headers in them",
       "Content-Type: multipart/mixed; boundary=z\n\n"
       "Content-Type: application/octet-stream; name=pre\n\npreamble\n"
       "--z\nContent-Type: application/octet-stream; name=\" acct\"\n\nA\n--z--\n"
       "Content-Type: application/octet-stream; name=post\n\nepilogue\n",
       {" acct"}},
      {"first attachment a message/rfc822",
       "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain\n\nhi\n"
       "--m\nContent-Type: message/rfc822\nContent-Disposition: attachment; filename=fw.eml\n\n"
       "Subject: inner\nContent-Type: multipart/mixed; boundary=m2\n\n--m2\n"
       "Content-Type: application/octet-stream; name=inner\n\nx\n--m2--\n"
       "--m\nContent-Type: application/octet-stream; name=acct\n\ny\n--m--\n",
       {"fw.eml", "acct"}},
      {"no boundary parameter",
       "Content-Type: multipart/mixed\n\n--guess\nContent-Type: text/plain\n\nt\n"
       "--guess\nContent-Type: application/octet-stream; name=g.bin\n\ng\n--guess--\n",
       {"g.bin"}},
      {"the message itself an attachment",
       "Subject: s\nContent-Type: application/octet-stream; name=whole\n"
       "Content-Transfer-Encoding: quoted-printable\n\na=3Db\n",
       {"whole"}},
      {"no MIME at all", "Subject: plain\n\nJust text.\n", {}},
      {"inline parts with and without Content-ID",
       "Content-Type: multipart/related; boundary=r\n\n"
       "--r\nContent-Type: image/gif\nContent-ID: <c1>\n\ngif\n"
       "--r\nContent-Type: text/plain; name=i.txt\nContent-Disposition: inline\n\ninl\n--r--\n",
       {"", "i.txt"}},  // the first part is the related root, so no inline resource
      {"empty parts and adjacent boundaries",
       "Content-Type: multipart/mixed; boundary=e\n\n--e\n--e\n\n--e\n"
       "Content-Type: application/x; name=\"=?utf-8?q?caf=C3=A9?=\"\n\nz\n--e--",
       {"caf\xC3\xA9"}},  // parts without a Content-Type are text/plain: the body
      {"a multipart is no attachment itself, whatever its disposition",
       "Content-Type: multipart/mixed; boundary=q\n\n"
       "--q\nContent-Type: multipart/mixed; boundary=qq\n"
       "Content-Disposition: attachment; filename*=utf-8''%C3%A9t%C3%A9.csv\n\n"
       "--qq\nContent-Type: text/plain\n\nin\n--qq--\n--q--\n",
       {}},
  };
  return cases;
}

TEST(MimeScan, FindsWhatVmimesFullParseFinds) {
  EnsureVmimeInitialised();
  TempDir dir;
  for (const auto& c : Cases()) {
    for (const bool crlf : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (crlf ? " (CR LF)" : " (LF)"));
      const std::string path = dir / "message";
      WriteFile(path, crlf ? CrLf(c.message) : c.message);
      auto scanned = MimeFileStream::Open(path);
      ASSERT_TRUE(scanned);
      const Found fromScan = Describe(ScanMimeAttachments(scanned), *scanned);
      auto parsedStream = MimeFileStream::Open(path);
      const MimeMessage parsed = ParseMimeMessage(parsedStream);
      const Found fromParse = Describe(parsed.attachments, *parsedStream);
      EXPECT_EQ(fromScan.names, c.names);
      EXPECT_EQ(fromScan.names, fromParse.names);
      EXPECT_EQ(fromScan.contents, fromParse.contents);
    }
  }
}

// Base64 refusals name the line of the message file, as with a full parse.
TEST(MimeScan, RefusesBrokenBase64AtTheSameLine) {
  EnsureVmimeInitialised();
  TempDir dir;
  const std::string path = dir / "message";
  WriteFile(path,
            "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nt\n"
            "--b\nContent-Type: application/octet-stream; name=acct\n"
            "Content-Transfer-Encoding: base64\n\naGVs\nbG8*\n--b--\n");
  auto stream = MimeFileStream::Open(path);
  const auto attachments = ScanMimeAttachments(stream);
  ASSERT_EQ(attachments.size(), 1u);
  std::ostringstream out;
  try {
    WriteMimeAttachmentContent(*attachments[0], *stream, out);
    FAIL() << "broken base64 was decoded";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("'*' is not base64"), std::string::npos) << what;
    EXPECT_NE(what.find("line 12"), std::string::npos) << what;
  }
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tollbook::mail
