#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "ui/jaselodlg.h"
#include "ui/picturepreview.h"
#include "ui/toolkit/richedit.h"

ChatSettings& CJaseloDlgProbe::Settings() const { return dlg.Settings(); }
void CJaseloDlgProbe::SetConfigPath(std::string path) const { dlg.SetConfigPath(std::move(path)); }
void CJaseloDlgProbe::ReadConfig() const { dlg.ReadConfig(); }
void CJaseloDlgProbe::LoadButtonBitmaps() const { dlg.LoadButtonBitmaps(); }
void CJaseloDlgProbe::SetButtonBitmaps() const { dlg.SetButtonBitmaps(); }
void CJaseloDlgProbe::StartNetwork() const { dlg.StartNetwork(); }
void CJaseloDlgProbe::AgreeToPlain(bool agreed) const { dlg.plainAgreed = agreed; }
void CJaseloDlgProbe::ShowTitle() const { dlg.ShowTitle(); }
void CJaseloDlgProbe::DispatchEvent(ChatEvent& event) const { dlg.DispatchEvent(event); }
void CJaseloDlgProbe::AppendText(const std::string& text) const { dlg.AppendText(text); }
void CJaseloDlgProbe::SetTranscriptLimit(int paragraphs) const { dlg.SetTranscriptLimit(paragraphs); }
void CJaseloDlgProbe::StopPollLoop() const { dlg.StopPollLoop(); }
CRichEdit* CJaseloDlgProbe::InputBox() const { return dlg.InputBox(); }
CRichEdit* CJaseloDlgProbe::Transcript() const { return dlg.Transcript(); }
QPushButton* CJaseloDlgProbe::Button(int id) const { return dlg.Button(id); }
int CJaseloDlgProbe::ShownImage(int buttonId) const { return dlg.ShownImage(buttonId); }
CJaseloNetwork& CJaseloDlgProbe::ServerNetwork() const { return dlg.ServerNetwork(); }
size_t CJaseloDlgProbe::NewsWaiting() const { return dlg.news.Waiting(); }
CFileCards* CJaseloDlgProbe::FileCards() const { return dlg.fileCards; }
CPicturePreview* CJaseloDlgProbe::LastPreview() const { return dlg.lastPreview; }
bool CJaseloDlgProbe::IsRunning() const { return dlg.IsRunning(); }
bool CJaseloDlgProbe::IsPolling() const { return dlg.IsPolling(); }
bool CJaseloDlgProbe::Joining() const { return dlg.Joining(); }
bool CJaseloDlgProbe::ConnectionLost() const { return dlg.ConnectionLost(); }

void TypeText(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    const int key = c.unicode() < 0x80 ? int(QChar(c).toUpper().unicode()) : int(Qt::Key_unknown);
    QTest::sendKeyEvent(QTest::Click, widget, static_cast<Qt::Key>(key), QString(c), Qt::NoModifier);
  }
}

void TypeIntoFocus(const QString& text) {
  for (QChar c : text) TypeText(QApplication::focusWidget(), QString(c));
}

std::vector<QWidget*> TabRound(QWidget* first) {
  std::vector<QWidget*> stops;
  first->setFocus(Qt::TabFocusReason);
  for (QWidget* at = first; at && stops.size() < 50;) {
    stops.push_back(at);
    const QImage focused = at->grab().toImage();
    QTest::keyClick(at, Qt::Key_Tab);
    EXPECT_NE(at->grab().toImage(), focused) << "no focus shows on " << at->metaObject()->className();
    at = QApplication::focusWidget();
    if (at == first) break;
  }
  return stops;
}

bool Activate(QWidget& window) {
  window.activateWindow();
  QApplication::setActiveWindow(&window);
  return QTest::qWaitForWindowActive(&window);
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

static Run RunOf(const QTextCharFormat& f) {
  Run r;
  r.face = f.fontFamilies().toStringList().value(0);
  r.color = f.foreground().color();
  r.bold = f.fontWeight() > QFont::Normal;
  r.italic = f.fontItalic();
  r.underline = f.fontUnderline();
  r.hasHeight = f.hasProperty(QTextFormat::FontPointSize);
  return r;
}

static bool SameFormat(const Run& a, const Run& b) {
  return a.face == b.face && a.color == b.color && a.bold == b.bold && a.italic == b.italic &&
         a.underline == b.underline && a.hasHeight == b.hasHeight;
}

std::vector<Run> Runs(const QTextDocument* document) {
  std::vector<Run> runs;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      Run r = RunOf(fragment.charFormat());
      if (!runs.empty() && SameFormat(runs.back(), r)) {
        runs.back().text += fragment.text();
      } else {
        r.text = fragment.text();
        runs.push_back(r);
      }
    }
    if (block.next().isValid() && !runs.empty()) runs.back().text += u'\n';
  }
  return runs;
}

QString PlainText(const QTextDocument* document) { return document->toPlainText(); }

Peer::Peer(const char* nickname) : nickname(nickname) {}

Peer::~Peer() { network.StopClient(); }

bool Peer::Connect(uint16_t port) {
  return network.StartupClient(nickname.c_str()) && network.ClientConnect("127.0.0.1", port);
}

bool Peer::Join(CJaseloDlg& dlg, uint16_t port) {
  if (!Connect(port)) return false;
  const QString arrival = QString::fromStdString(nickname + " joined the chat !");
  return PumpUntil([&] { return CJaseloDlgProbe(dlg).Transcript()->document()->toPlainText().contains(arrival); });
}

void Peer::Drain() {
  ChatEvent e;
  while (network.ProcessPacketInQueue(e)) {
    // Only chat events count here; the people list and earlier lines are
    // checked where they are shown.
    if (e.Type >= EVENT_PRESENT) continue;
    Received r;
    r.type = e.Type;
    r.name = e.Name.get() ? e.Name.get() : "";
    r.text = e.Text.get() ? e.Text.get() : "";
    r.police = e.Police.get() ? e.Police.get() : "";
    r.style = e.Style();
    events.push_back(r);
    e = ChatEvent{};
  }
}

bool Peer::WaitForEvents(size_t count) {
  return PumpUntil([&] {
    Drain();
    return events.size() >= count;
  });
}

static void FillLine(ChatEvent& line, const char* name, const char* text, const char* face, uint16_t red,
                     uint16_t green, uint16_t blue, uint16_t bold, uint16_t italic, uint16_t underline) {
  line.SetName(name);
  line.SetText(text);
  line.SetPolice(face);
  line.Style() = {.Bold = bold, .Italic = italic, .Underline = underline, .Red = red, .Green = green, .Blue = blue};
}

bool Peer::Say(const char* text, const char* face, uint16_t red, uint16_t green, uint16_t blue, uint16_t bold,
               uint16_t italic, uint16_t underline) {
  ChatEvent line;
  FillLine(line, nickname.c_str(), text, face, red, green, blue, bold, italic, underline);
  return network.SendChatMessage(line);
}

bool Peer::SayPrivately(const char* text, const char* addressee) {
  ChatEvent line;
  FillLine(line, nickname.c_str(), text, "Arial", 0, 0, 0, 0, 0, 0);
  return network.SendPrivateChatMessage(line, addressee);
}

void FillEvent(ChatEvent& event, uint16_t type, const char* name, const char* text, const char* police, uint16_t red,
               uint16_t green, uint16_t blue, uint16_t bold, uint16_t italic, uint16_t underline) {
  event.Type = type;
  event.SetName(name);
  if (text) {
    FillLine(event, name, text, police ? police : "Arial", red, green, blue, bold, italic, underline);
  }
}

void PrepareWindow(CJaseloDlg& dlg, const char* nickname) {
  const CJaseloDlgProbe probe(dlg);
  dlg.CreateControls();
  probe.LoadButtonBitmaps();
  probe.SetButtonBitmaps();
  ChatSettings& s = probe.Settings();
  s = ChatSettings{};
  std::snprintf(s.Pseudo, sizeof s.Pseudo, "%s", nickname);
  // As for a chat chosen in the list: most tests' hosts have no key.
  probe.AgreeToPlain(true);
  dlg.show();
}

uint16_t StartAsServer(CJaseloDlg& dlg) {
  const CJaseloDlgProbe probe(dlg);
  ChatSettings& s = probe.Settings();
  s.Role = TYPE_SERVER;
  s.Port = 0;
  probe.StartNetwork();
  EXPECT_TRUE(PumpUntil([&] { return !probe.Joining(); }, std::chrono::seconds(15)));
  return probe.ServerNetwork().ListeningPort();
}

void StartAsClient(CJaseloDlg& dlg, uint16_t port) {
  const CJaseloDlgProbe probe(dlg);
  ChatSettings& s = probe.Settings();
  s.Role = TYPE_CLIENT;
  s.Port = port;
  probe.StartNetwork();
  EXPECT_TRUE(PumpUntil([&] { return !probe.Joining(); }, std::chrono::seconds(15)));
}

void WithinDeadline(std::chrono::milliseconds limit, const std::function<void()>& body) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, limit, [&] { return done; })) {
      std::fprintf(stderr, "deadline passed: the UI thread is stuck\n");
      std::_Exit(1);
    }
  });
  body();
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  cv.notify_one();
  watchdog.join();
}

UiStallMeter::UiStallMeter() {
  clock.start();
  QObject::connect(&ticker, &QTimer::timeout, [this] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
  });
  ticker.start(5);
}
