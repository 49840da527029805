#include "mail/imap/test_mailbox.h"

#include <filesystem>

#include "support/test_support.h"

namespace tollbook::testing {

std::string Base64(const std::string& data) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t column = 0;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) value |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) value |= static_cast<unsigned char>(data[i + 2]);
    out += digits[(value >> 18) & 63];
    out += digits[(value >> 12) & 63];
    out += i + 1 < data.size() ? digits[(value >> 6) & 63] : '=';
    out += i + 2 < data.size() ? digits[value & 63] : '=';
    if ((column += 4) == 76) {
      out += "\r\n";
      column = 0;
    }
  }
  if (column != 0) out += "\r\n";
  return out;
}

std::string SmtpLine(const std::string& direction, const std::string& date, const std::string& user,
                     int bytes) {
  return direction + "," + date + ",10:15,MSG1,Mail,Normal,DOM,PO1," + user +
         ",ACC,Subject,GDOM,GATE,F1,SMTP,ADDR,1,0," + std::to_string(bytes) + ",X";
}

std::string OtherLine(const std::string& sender, const std::string& date, int bytes,
                      const std::string& direction) {
  return sender + ",ACC,BILL,Subject,Normal," + date + ",11:00,Mail,X400,0," + std::to_string(bytes) +
         ",DOM,PO1,GDOM,GATE,1,dest,rs," + direction;
}

std::string TextPart(const std::string& text) {
  return "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + text + "\r\n";
}

std::string Base64Part(const std::string& name, const std::string& content) {
  return "Content-Type: application/octet-stream; name=\"" + name +
         "\"\r\nContent-Disposition: attachment; filename=\"" + name +
         "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(content);
}

std::string MixedMessage(const std::string& subject, const std::vector<std::string>& parts) {
  std::string raw = "From: gateway@example.com\r\nTo: acct@example.com\r\nSubject: " + subject +
                    "\r\nDate: Mon, 3 Mar 2003 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: multipart/mixed; boundary=\"=b1\"\r\n\r\n";
  for (const auto& part : parts) raw += "--=b1\r\n" + part;
  return raw + "--=b1--\r\n";
}

std::vector<TestMessage> GoldenMessages() {
  const std::string smtp1 = SmtpLine("I", "03/03/2003", "ann", 1200) + "\r\n" +
                            SmtpLine("O", "03/03/2003", "bob", 300) + "\r\n";
  const std::string smtp2 = SmtpLine("o", "03/04/2003", "Ann", 75) + "\r\n";
  const std::string other1 = OtherLine("carl", "03/04/2003", 4096, "I") + "\r\n" +
                             OtherLine("dora", "03/05/2003", 10, "O") + "\r\n";
  const std::string smtp3 = SmtpLine("I", "03/05/2003", "ann", 5) + "\r\n";
  const std::string smtp4 = SmtpLine("O", "03/06/2003", "eve", 64) + "\r\n";
  std::string large;
  while (large.size() < 300000) large += "not accounting data, just bulk " + std::to_string(large.size()) + "\n";

  std::vector<TestMessage> messages;
  messages.push_back({"m01", MixedMessage("base64", {TextPart("Files attached."), Base64Part("acct", smtp1)}),
                      {{"acct", smtp1}}});
  messages.push_back({"m02",
                                 "From: a@example.com\r\nSubject: no parts\r\n\r\nJust text.\r\n",
                      {}});
  messages.push_back({"m03", MixedMessage("notes first", {TextPart("x"), Base64Part("notes", "n\r\n"),
                                                          Base64Part("acct", smtp2)}),
                      {{"notes", "n\r\n"}}});
  // Quoted-printable, named by Content-Type only, upper case.
  std::string qp = other1;
  for (std::size_t at = qp.find(','); at != std::string::npos; at = qp.find(',', at + 3)) {
    qp.replace(at, 1, "=2C");
  }
  messages.push_back({"m04",
                      MixedMessage("qp", {TextPart("see attachment"),
                                          "Content-Type: text/plain; name=\"ACCT\"\r\n"
                                          "Content-Disposition: attachment\r\n"
                                          "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                                              qp + "\r\n"}),
                      {{"ACCT", other1}}});
  // Nested alternative body, then a 7bit accounting part.
  messages.push_back(
      {"m05",
       "From: gateway@example.com\r\nSubject: nested\r\nMIME-Version: 1.0\r\n"
       "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
       "--outer\r\nContent-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n"
       "--inner\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
       "--inner\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--inner--\r\n"
       "--outer\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=Acct\r\n"
       "Content-Transfer-Encoding: 7bit\r\n\r\n" +
           smtp3 + "\r\n--outer--\r\n",
       {{"Acct", smtp3}}});
  messages.push_back({"m06", MixedMessage("blank in front", {TextPart("x"), Base64Part(" acct", smtp4)}),
                      {{" acct", smtp4}}});
  messages.push_back({"m07", MixedMessage("csv", {TextPart("x"), Base64Part("acct.csv", smtp4)}),
                      {{"acct.csv", smtp4}}});
  // The whole message is the accounting file.
  messages.push_back({"m08",
                      "From: gateway@example.com\r\nSubject: single\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: application/octet-stream; name=\"acct\"\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" +
                          Base64(smtp4),
                      {{"acct", smtp4}}});
  messages.push_back(
      {"m09", MixedMessage("large", {TextPart("big one"), Base64Part("big.bin", large), Base64Part("acct", smtp1)}),
       {{"big.bin", large}}});
  messages.push_back({"m10", MixedMessage("again", {Base64Part("acct", smtp2)}), {{"acct", smtp2}}});
  // A text part named by its Content-Type alone is an attachment; its last
  // line break belongs to the closing boundary.
  messages.push_back({"m11",
                      MixedMessage("inline text", {TextPart("x"), "Content-Type: text/plain; name=\"acct\"\r\n\r\n" + smtp4}),
                      {{"acct", smtp4.substr(0, smtp4.size() - 2)}}});
  // More body parts, some nested, ahead of the attachment than the walk
  // fetches headers for at first.
  messages.push_back(
      {"m12",
       MixedMessage("many parts", {TextPart("one"), TextPart("two"),
                                   "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
                                   "--alt\r\nContent-Type: text/plain\r\n\r\nthree\r\n"
                                   "--alt\r\nContent-Type: text/html\r\n\r\n<p>four</p>\r\n--alt--\r\n",
                                   TextPart("five"), TextPart("six"), TextPart("seven"),
                                   Base64Part("acct", smtp3)}),
       {{"acct", smtp3}}});
  // The file name in RFC 2231 form.
  messages.push_back({"m13",
                      MixedMessage("rfc 2231", {TextPart("x"),
                                                "Content-Type: application/octet-stream\r\n"
                                                "Content-Disposition: attachment; filename*=utf-8''acct\r\n"
                                                "Content-Transfer-Encoding: base64\r\n\r\n" +
                                                    Base64(smtp2)}),
                      {{"acct", smtp2}}});
  return messages;
}

void WriteMaildirMessage(const std::string& root, const std::string& folder, const std::string& name,
                         const std::string& flags, const std::string& raw) {
  const std::string dir = root + "/" + folder;
  for (const char* sub : {"/cur", "/new", "/tmp"}) std::filesystem::create_directories(dir + sub);
  WriteFile(dir + "/cur/" + name + ":2," + flags, raw);
}

}  // namespace tollbook::testing
