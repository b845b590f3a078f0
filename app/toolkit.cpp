// The dialogs' toolkit: bringing Qt up on first use, with or without a display, in the classic look.
#include "dialog.h"

#include <cstdio>

#include <QApplication>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleFactory>

#include "desktop/desktop.h"
#include "dialog_template.h"

namespace app {

namespace {

// Platforms tried in order when the user has chosen none: X11, then Wayland, then the offscreen
// platform, which always comes up and so stands for "no display".
constexpr char FallbackPlatforms[] = "xcb;wayland;offscreen";
constexpr char NoDisplayPlatform[] = "offscreen";

// While the toolkit probes for a display it warns about every platform that fails. Those
// warnings are the expected outcome of having no display, not something to report; only a
// fatal message is still shown.
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

DialogToolkit CreateApplication() {
  if (QCoreApplication::instance() != nullptr) return DialogToolkit::Available;
  const bool userChosePlatform = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  if (!userChosePlatform) qputenv("QT_QPA_PLATFORM", FallbackPlatforms);

  // The application keeps references to the argument count and vector for its whole life.
  static int argumentCount = 1;
  static char programName[] = "pyrovane";
  static char* arguments[] = {programName, nullptr};

  const QtMessageHandler previousHandler = userChosePlatform ? nullptr : qInstallMessageHandler(QuietWhileProbing);
  // Never deleted: the application lives until the process ends, and destroying it during static
  // destruction would race the toolkit's own teardown of its globals.
  auto* application = new QApplication(argumentCount, arguments);
  if (!userChosePlatform) qInstallMessageHandler(previousHandler);
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    toolkitMessageHandler = qInstallMessageHandler(EndAsTheShowDoesWhenTheDisplayGoes);
  }
  // No event loop of the application's own ever runs; closing a dialog must not ask it to quit.
  application->setQuitOnLastWindowClosed(false);

  if (!userChosePlatform && QGuiApplication::platformName() == QLatin1String(NoDisplayPlatform)) {
    return DialogToolkit::Unavailable;
  }
  return DialogToolkit::Available;
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
