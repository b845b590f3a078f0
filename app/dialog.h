// The dialog layer: CDialog, its static message maps and command routing, and the toolkit that
// shows dialogs, brought up on first use.
#pragma once

#include <span>

class QDialog;
class QWidget;

namespace app {

class CDialog;
class DialogWindow;

// The window message that carries commands, and the notifications the dialogs react to.
inline constexpr unsigned WM_COMMAND = 0x0111;
inline constexpr unsigned BN_CLICKED = 0;
inline constexpr unsigned EN_CHANGE = 0x0300;

// A handler takes no arguments and returns nothing. Handlers of derived classes are stored
// converted to this type; the map they sit in belongs to their class, so they are only ever
// called on objects of that class.
using CommandHandler = void (CDialog::*)();

struct MessageMapEntry {
  unsigned message;
  unsigned notification;
  int controlId;
  CommandHandler handler;
};

// A class's own entries and the map of its base class, null at the root.
struct MessageMap {
  const MessageMap* baseMap;
  std::span<const MessageMapEntry> entries;
};

// The first entry for this message, walking from `map` to its bases; null when none matches.
const MessageMapEntry* FindMessageMapEntry(const MessageMap& map, unsigned message, unsigned notification,
                                           int controlId);

enum class DataExchangeDirection { ToControls, FromControls };

// The context of one data exchange between a dialog's controls and its members.
struct CDataExchange {
  DataExchangeDirection direction;
};

// Whether dialogs can be shown. The first call brings the toolkit up and gives it the classic
// look: the three-dimensional "Windows" style, and the classic dialog face where it is
// installed. Every later call gives the same answer. When the user has not chosen a platform, a
// real display is tried first and the offscreen platform last, so that a missing display never
// aborts the process: reaching offscreen that way means nobody could see a dialog, and dialogs
// are then unavailable. A platform the user chose (offscreen for tests) is always used.
enum class DialogToolkit { Unavailable, Available };
DialogToolkit StartDialogToolkit();

// A modal dialog built from a template. The window exists only while DoModal runs.
class CDialog {
public:
  CDialog(int templateId, CDialog* parentWindow);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Builds the window from the template, runs it until EndDialog and returns EndDialog's value,
  // or -1 at once when the dialog cannot be created (no template, no usable display).
  int DoModal();

  // Ends the modal run with this result.
  void EndDialog(int result);

  // Routes a command (WM_COMMAND with this notification from this control) through the message
  // maps, most derived first. Returns whether a handler took it.
  bool OnCommand(unsigned notification, int controlId);

  virtual const MessageMap* GetMessageMap() const;

  // The window while DoModal runs, otherwise null.
  QDialog* Window() const;
  // The control with this identifier while DoModal runs, otherwise null.
  QWidget* GetDlgItem(int controlId) const;

protected:
  // Moves data between the controls and the dialog's members; the base moves nothing.
  virtual void DoDataExchange(CDataExchange* exchange);
  // Called once the controls exist, before the window is shown. Returning true lets the dialog
  // layer give the focus to the first tab stop in template order.
  virtual bool OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  void UpdateData(DataExchangeDirection direction);

  static const MessageMap messageMap;

private:
  static const MessageMapEntry messageEntries[];

  int templateId_;
  CDialog* parentWindow_;
  DialogWindow* window_ = nullptr;
};

} // namespace app
