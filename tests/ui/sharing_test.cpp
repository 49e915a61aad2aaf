// Sharing files from the window: a pasted picture after its preview, a file
// dropped on the window for the one a /msg line is for, and a card for a file
// somebody else shared, fetched and checked. A peer of the plain protocol
// sees one ordinary line per share.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>
#include <fstream>

#include "chat/sharing.h"
#include "common/test_support.h"
#include "protocol/headers.h"
#include "trust/knownhosts.h"
#include "ui/filecards.h"
#include "ui/jaselodlg.h"
#include "ui/picturepreview.h"
#include "ui/resource.h"
#include "ui/toolkit/richedit.h"
#include "ui/transcriptmarks.h"
#include "ui_test_support.h"

namespace {
QString Transcript(const CJaseloDlgProbe& probe) { return probe.Transcript()->document()->toPlainText(); }

// The pictures the transcript shows.
int Pictures(const QTextDocument* document) {
  int n = 0;
  for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
    for (auto f = b.begin(); !f.atEnd(); ++f) n += f.fragment().charFormat().isImageFormat() ? 1 : 0;
  return n;
}

// The lines `peer` has received that tell of a shared file.
std::vector<Received> Shares(Peer& peer) {
  peer.Drain();
  std::vector<Received> shares;
  for (const Received& r : peer.events)
    if (r.text.rfind("shared ", 0) == 0) shares.push_back(r);
  return shares;
}

std::string Field(const std::string& line, const std::string& start, char end) {
  const size_t at = line.find(start);
  if (at == std::string::npos) return {};
  const size_t from = at + start.size();
  return line.substr(from, line.find(end, from) - from);
}
}  // namespace

TEST(WindowSharing, APastedPictureAndADroppedFileGoOutAndAFileSharedWithTheUserShowsItsCard) {
  CJaseloDlg host;
  PrepareWindow(host, "host");
  const CJaseloDlgProbe probe(host);
  const uint16_t port = StartAsServer(host);
  Peer bob("bob");
  ASSERT_TRUE(bob.Join(host, port));
  // The host gives its own client a ticket inside TLS: sharing opens.
  ASSERT_TRUE(PumpUntil([&] { return probe.Button(IDC_ATTACH)->isEnabled(); }));

  // Ctrl+V with a picture on the clipboard shows it first; Send shares it.
  QImage picture(64, 48, QImage::Format_RGB32);
  picture.fill(QColor(200, 40, 40));
  QGuiApplication::clipboard()->setImage(picture);
  probe.InputBox()->setFocus();
  QTest::keyClick(probe.InputBox(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_TRUE(PumpUntil([&] { return probe.LastPreview() != nullptr; }));
  EXPECT_EQ(probe.InputBox()->toPlainText(), "") << "the picture is not pasted as text";
  QTest::mouseClick(probe.LastPreview()->SendButton(), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Shares(bob).size() == 1; }));
  EXPECT_EQ(Shares(bob)[0].type, CHAT_SAYS);
  const std::string said = Shares(bob)[0].text;
  EXPECT_EQ(said.rfind("shared picture-", 0), 0u) << said;
  EXPECT_NE(said.find(".png ("), std::string::npos) << said;
  EXPECT_NE(said.find(": https://127.0.0.1:" + std::to_string(port) + "/files/"), std::string::npos) << said;
  ASSERT_TRUE(PumpUntil([&] {
    return Transcript(probe).contains("host shares a file :") && Transcript(probe).contains("Open   Save\u2026");
  })) << Transcript(probe).toStdString();
  EXPECT_EQ(Pictures(probe.Transcript()->document()), 1) << "the sharer's card shows the picture";

  // A file dropped on the window goes to the one the box's /msg is for.
  const TempDir dir;
  { std::ofstream(dir.File("notes.txt")) << "minutes of the meeting\n"; }
  QTest::keyClicks(probe.InputBox(), "/msg bob ");
  QMimeData dropped;
  dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("notes.txt")))});
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&host, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&host, &drop);
  ASSERT_TRUE(PumpUntil([&] { return Shares(bob).size() == 2; }));
  EXPECT_EQ(Shares(bob)[1].type, CHAT_PRIVATE);
  EXPECT_EQ(Shares(bob)[1].text.rfind("shared notes.txt (23 bytes): https://", 0), 0u) << Shares(bob)[1].text;
  EXPECT_TRUE(Transcript(probe).contains("(*private*) to bob, a file :"));

  // Details of a picture without its small view: the card fetches the
  // picture to show it, and keeps it only with the SHA-256 shared.
  ChatEvent details;
  details.Type = EVENT_FILE;
  SharedFile& file = details.File;
  file.id = Field(said, "/files/", '/');
  file.name = Field(said, "/files/" + file.id + "/", '\0');
  file.from = "carol";
  file.type = "image/png";
  file.size = std::stoull(Field(said, " (", ' '));
  file.sha256 = std::string(64, '0');
  probe.DispatchEvent(details);
  ASSERT_TRUE(PumpUntil([&] { return Transcript(probe).contains("did not arrive as it was shared: deleted"); }))
      << Transcript(probe).toStdString();
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/jaselo/files/" +
                        QString::fromStdString(file.id);
  EXPECT_TRUE(QDir(cache).isEmpty());
  // A participant shares a picture: its small view comes with the details,
  // and the card shows it without fetching the picture.
  CJaseloNetwork carol;
  ClientSecurity security;
  std::string error;
  security.tls = TlsContext::ForClient(error);
  security.knownHosts = std::make_shared<KnownHosts>(dir.File("known-hosts"));
  security.acceptNewKey = true;
  carol.SetClientSecurity(security);
  carol.SetAsksForFiles(true);
  ASSERT_TRUE(carol.StartupClient("carol") && carol.ClientConnect("127.0.0.1", port));
  std::string ticket;
  ASSERT_TRUE(PumpUntil([&] {
    for (ChatEvent e; carol.ProcessPacketInQueue(e);)
      if (e.Type == EVENT_TICKET) ticket = e.Text.get();
    return !ticket.empty();
  }));
  QImage dot(96, 64, QImage::Format_RGB32);
  dot.fill(Qt::blue);
  ASSERT_TRUE(dot.save(QString::fromStdString(dir.File("dot.png"))));
  FileClient uploader;
  UploadedFile uploaded;
  ASSERT_TRUE(UploadSharedFile(uploader, {"127.0.0.1", port, carol.LastConnect()}, ticket, dir.File("dot.png"), "carol",
                               "", uploaded, error))
      << error;
  ChatEvent line;
  line.SetName("carol");
  line.SetPolice("Arial");
  ASSERT_TRUE(AnnounceSharedFile(carol, line, uploaded));
  ASSERT_TRUE(PumpUntil([&] { return Pictures(probe.Transcript()->document()) == 2; }));
  const QString fetched = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/jaselo/files/" +
                          QString::fromStdString(uploaded.file.id);
  EXPECT_FALSE(QDir(fetched).exists());
  EXPECT_TRUE(Transcript(probe).contains("carol shares a file :"));
  host.resize(720, 640);
  host.grab().save(QStringLiteral(JASELO_TEST_OUTPUT "/window-sharing.png"));
  // A name a host sends is shown isolated, never as markup.
  details.File.name = "<b>x.png";
  details.File.type = "text/html";
  probe.DispatchEvent(details);
  EXPECT_TRUE(Transcript(probe).contains("\u2068<b>x.png\u2069")) << Transcript(probe).toStdString();
  EXPECT_TRUE(PumpUntil([&] { return probe.FileCards()->Running() == 0; }));
  // Each share reached the plain peer as one ordinary line.
  EXPECT_EQ(Shares(bob).size(), 3u);
  carol.StopClient();
}
