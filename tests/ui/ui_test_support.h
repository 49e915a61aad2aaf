#pragma once
// Helpers for the widget tests: the chat window's test-access class, waiting
// while the UI thread keeps serving the poll thread, reading a rich-text
// document back as runs of formatted text, and a network participant that
// records what it receives.

#include <QColor>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chat/jaselonetwork.h"

class CFileCards;
class CJaseloDlg;
class CPicturePreview;
class CRichEdit;
class QPushButton;
class QTextDocument;
class QWidget;
struct ChatSettings;

// The chat window's friend: the tests' one way in to the parts of the window
// that only they look at or drive directly. Each call is the window's own.
class CJaseloDlgProbe {
 public:
  explicit CJaseloDlgProbe(CJaseloDlg& dlg) : dlg(dlg) {}

  ChatSettings& Settings() const;
  void SetConfigPath(std::string path) const;
  void ReadConfig() const;
  void LoadButtonBitmaps() const;
  void SetButtonBitmaps() const;
  void StartNetwork() const;
  // Whether a host without encryption is joined without asking first.
  void AgreeToPlain(bool agreed) const;
  void ShowTitle() const;
  void DispatchEvent(ChatEvent& event) const;
  void AppendText(const std::string& text) const;
  void SetTranscriptLimit(int paragraphs) const;
  void StopPollLoop() const;

  CRichEdit* InputBox() const;
  CRichEdit* Transcript() const;
  QPushButton* Button(int id) const;
  int ShownImage(int buttonId) const;
  CJaseloNetwork& ServerNetwork() const;
  bool IsRunning() const;
  bool IsPolling() const;
  bool Joining() const;
  bool ConnectionLost() const;
  // What the poll thread has handed over and the window not yet taken.
  size_t NewsWaiting() const;
  CFileCards* FileCards() const;
  // The preview of a pasted picture, while it shows.
  CPicturePreview* LastPreview() const;

 private:
  CJaseloDlg& dlg;
};

// Types `text` into `widget` key by key, letters outside ASCII included.
void TypeText(QWidget* widget, const QString& text);
// Types each key into whatever has the keyboard focus at that moment.
void TypeIntoFocus(const QString& text);

// Presses Tab from `first` (given the focus) until the focus comes back to it
// and returns every control it stopped at, `first` included. Each must look
// different while it has the focus.
std::vector<QWidget*> TabRound(QWidget* first);

// Makes `window` the active window, as a click on it would; false if it does not become so.
bool Activate(QWidget& window);

// Waits for `condition` with a deadline while the UI thread carries out queued calls.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

// A run of text with one format; block ends are "\n" in the run they end.
struct Run {
  QString text;
  QString face;
  QColor color;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool hasHeight = false;  // the run sets a size of its own
};
std::vector<Run> Runs(const QTextDocument* document);
QString PlainText(const QTextDocument* document);

// One received chat event, copied.
struct Received {
  uint16_t type = 0;
  std::string name, text, police;
  LineStyle style;
};

// A client endpoint of its own that keeps every event it receives.
class Peer {
 public:
  explicit Peer(const char* nickname);
  ~Peer();
  bool Connect(uint16_t port);
  // Connects to the server of `dlg` and waits until the server has taken the
  // peer in (its window shows the arrival), so that every relay reaches it.
  bool Join(CJaseloDlg& dlg, uint16_t port);
  // Takes whatever has been queued.
  void Drain();
  // Pumps the UI until `count` events have arrived.
  bool WaitForEvents(size_t count);
  bool Say(const char* text, const char* face = "Arial", uint16_t red = 0, uint16_t green = 0, uint16_t blue = 0,
           uint16_t bold = 0, uint16_t italic = 0, uint16_t underline = 0);
  bool SayPrivately(const char* text, const char* addressee);
  CJaseloNetwork& Network() { return network; }
  std::vector<Received> events;

 private:
  std::string nickname;
  CJaseloNetwork network;
};

// Builds a chat event as the dispatch fills one.
void FillEvent(ChatEvent& event, uint16_t type, const char* name, const char* text = nullptr,
               const char* police = nullptr, uint16_t red = 0, uint16_t green = 0, uint16_t blue = 0, uint16_t bold = 0,
               uint16_t italic = 0, uint16_t underline = 0);

// A chat window with its controls and images, not yet started, not run modally.
void PrepareWindow(CJaseloDlg& dlg, const char* nickname);
// Starts `dlg` as the server on a free port of the loopback and waits until
// its own client has joined; returns the port.
uint16_t StartAsServer(CJaseloDlg& dlg);
// Starts `dlg` as a client of the server listening on `port` of the loopback
// and waits until the join is over, joined or not.
void StartAsClient(CJaseloDlg& dlg, uint16_t port);
// Ends the test process if `body` has not returned within `limit`: a deadlock
// must fail the test, not hang it.
void WithinDeadline(std::chrono::milliseconds limit, const std::function<void()>& body);

// How long, at the most, the UI thread was kept from its events since the
// meter was made: a timer on that thread ticks every 5 ms.
class UiStallMeter {
 public:
  UiStallMeter();
  qint64 LongestMs() const { return longest; }
  qint64 ElapsedMs() const { return clock.elapsed(); }

 private:
  QElapsedTimer clock;
  QTimer ticker;
  qint64 last = 0, longest = 0;
};
