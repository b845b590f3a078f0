// The dialogs' toolkit: bringing Qt up on first use, with or without a display, in the classic look.
#include "dialog.h"

#include <cstdio>

#include <QApplication>
#include <QByteArray>
#include <QByteArrayList>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleFactory>

#include "desktop/desktop.h"
#include "dialog_template.h"

namespace app {

namespace {

// Platforms tried in order when the user has chosen none: X11, then Wayland.
constexpr char DesktopPlatforms[] = "xcb;wayland";
// Tried last whatever the choice: it always comes up, and so stands for "no display" when the
// user did not name it.
constexpr char NoDisplayPlatform[] = "offscreen";

// The name the desktop knows the program by: the show's app id and the name of its desktop entry,
// and the class of its X11 windows.
constexpr char DesktopEntryName[] = "pyrovane";
constexpr char WindowClass[] = "Pyrovane";

// Whether libwayland could even try to reach a compositor. Without a connection handed over, a
// socket name that is not an absolute path needs the runtime folder; without it the library
// prints a line of its own on standard error before it fails, so such an attempt is not made.
bool WaylandCanBeTried() {
  if (!qEnvironmentVariableIsEmpty("WAYLAND_SOCKET")) return true;
  const QByteArray runtimeFolder = qgetenv("XDG_RUNTIME_DIR");
  return qgetenv("WAYLAND_DISPLAY").startsWith('/') || runtimeFolder.startsWith('/');
}

// The platforms to try in order: the user's choice, or the desktop's when there is none, less a
// Wayland platform that cannot be tried, then the offscreen platform, which always starts.
QByteArray PlatformsToTry(const QByteArray& choice) {
  QByteArrayList platforms;
  for (const QByteArray& platform : (choice.isEmpty() ? QByteArray(DesktopPlatforms) : choice).split(';')) {
    const bool wayland = platform.startsWith("wayland");
    if (!platform.isEmpty() && (!wayland || WaylandCanBeTried())) platforms.append(platform);
  }
  platforms.append(NoDisplayPlatform);
  return platforms.join(';');
}

// Whether the user named the offscreen platform, as tests do, to have dialogs nobody sees.
bool ChoseNoDisplayPlatform(const QByteArray& choice) {
  for (const QByteArray& platform : choice.split(';')) {
    if (platform.split(':').first() == NoDisplayPlatform) return true;
  }
  return false;
}

// While the toolkit tries the platforms it warns about every one that fails. Those warnings are
// the expected outcome of having no display, not something to report; only a fatal message is
// still shown.
void QuietWhileProbing(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The toolkit's own handler, which the one below passes every message on to.
QtMessageHandler toolkitMessageHandler = nullptr;

// When the X connection breaks, the toolkit warns and then ends the process with a status of its
// own; the settings end as the show does when its display goes, with one line and 255.
void EndAsTheShowDoesWhenTheDisplayGoes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
    desktop::EndProcessIfDisplayLost(x11->connection());
  }
  if (toolkitMessageHandler != nullptr) toolkitMessageHandler(type, context, message);
}

// Brings the application up on the first platform of the list that starts. A platform the user
// chose that cannot start is told in one line; the dialogs are then unavailable, as without a
// display, instead of the toolkit ending the process.
DialogToolkit CreateApplication() {
  if (QCoreApplication::instance() != nullptr) return DialogToolkit::Available;
  const QByteArray choice = qgetenv("QT_QPA_PLATFORM");
  qputenv("QT_QPA_PLATFORM", PlatformsToTry(choice));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopEntryName));
  QCoreApplication::setApplicationName(QString::fromLatin1(WindowClass));

  // The application keeps references to the argument count and vector for its whole life.
  static int argumentCount = 1;
  static char programName[] = "pyrovane";
  static char* arguments[] = {programName, nullptr};

  const QtMessageHandler previousHandler = qInstallMessageHandler(QuietWhileProbing);
  // Never deleted: the application lives until the process ends, and destroying it during static
  // destruction would race the toolkit's own teardown of its globals.
  auto* application = new QApplication(argumentCount, arguments);
  qInstallMessageHandler(previousHandler);
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    toolkitMessageHandler = qInstallMessageHandler(EndAsTheShowDoesWhenTheDisplayGoes);
  }
  // No event loop of the application's own ever runs; closing a dialog must not ask it to quit.
  application->setQuitOnLastWindowClosed(false);

  if (QGuiApplication::platformName() != QLatin1String(NoDisplayPlatform) || ChoseNoDisplayPlatform(choice)) {
    return DialogToolkit::Available;
  }
  if (!choice.isEmpty()) {
    std::fprintf(stderr, "main: no platform that QT_QPA_PLATFORM=%s names can start\n", choice.constData());
  }
  return DialogToolkit::Unavailable;
}

// The look of the dialogs: the toolkit's "Windows" style, grey three-dimensional bevels around
// buttons, edit boxes and check marks, in that style's own colours.
constexpr char ThreeDimensionalStyle[] = "Windows";

void UseClassicLook() {
  // Without the file, the dialog font falls back to its stand-in face.
  QFontDatabase::addApplicationFont(QString::fromUtf8(ClassicDialogFontFile));
  if (QStyle* style = QStyleFactory::create(QString::fromLatin1(ThreeDimensionalStyle))) {
    QApplication::setStyle(style);
    QApplication::setPalette(style->standardPalette());
  }
}

} // namespace

DialogToolkit StartDialogToolkit() {
  static const DialogToolkit toolkit = [] {
    const DialogToolkit started = CreateApplication();
    if (started == DialogToolkit::Available) UseClassicLook();
    return started;
  }();
  return toolkit;
}

} // namespace app
