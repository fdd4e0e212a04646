#include "ui/window_layout.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeySequence>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>

#include <QLabel>

#include "core/texts.h"
#include "ui/bar.h"
#include "ui/dark_palette.h"
#include "ui/frames.h"
#include "ui/installer_window.h"
#include "ui/line_limited_label.h"
#include "ui/palette.h"
#include "ui/panel.h"
#include "ui/primary_button.h"
#include "ui/qt_text.h"

namespace orbitreel {

namespace {

constexpr int ContentWidth = 560;
constexpr int ContentHeight = 520;
constexpr int PanelHeight = 112;

constexpr BottomLeftFrame MarkFrame{32, 452, 28, 28};
constexpr BottomLeftFrame CaptionFrame{72, 457, 456, 18};
constexpr BottomLeftFrame TitleFrame{32, 400, 496, 36};
constexpr BottomLeftFrame PanelFrame{32, 260, 496, PanelHeight};
constexpr BottomLeftFrame StatusFrame{16, 12, 464, 88};  // inside the panel
constexpr BottomLeftFrame BarFrame{32, 212, 496, 24};
constexpr BottomLeftFrame DetailsFrame{32, 168, 496, 36};
constexpr BottomLeftFrame ActionFrame{278, 64, 250, 44};

void place(QWidget& view, BottomLeftFrame frame, int parentHeight) {
    view.setGeometry(topLeftFrame(frame, parentHeight));
}

void setTextColor(QWidget& view, const QColor& color) {
    QPalette palette = view.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    view.setPalette(palette);
}

// The system face, regular, with figures of equal width so that the changing
// figures of the details line do not jitter.
QFont detailsFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    return font;
}

void centreOnPrimaryScreen(QWidget& window) {
    if (auto* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

}  // namespace

WindowViews buildInstallerWindow(std::function<bool()> shouldClose, LineLimitedLabel* status, LineLimitedLabel* details,
                                 Bar* bar) {
    auto* window = new InstallerWindow(std::move(shouldClose), ContentWidth, ContentHeight);
    window->setWindowTitle(qt(texts::WindowTitle));
    window->setPalette(darkPalette());
    window->setAutoFillBackground(true);
    centreOnPrimaryScreen(*window);

    window->setMark(QPixmap::fromImage(Palette::mark(MarkFrame.width, Palette::ink(), window->devicePixelRatioF())),
                    topLeftFrame(MarkFrame, ContentHeight));

    const auto captionText = Palette::labelText(qt(texts::Caption), 11, Palette::ink2());
    auto* caption = new QLabel(captionText.text, window);
    QFont captionFont = captionText.font;
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, captionText.kerning);
    caption->setFont(captionFont);
    setTextColor(*caption, captionText.color);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    caption->setTextFormat(Qt::PlainText);
    place(*caption, CaptionFrame, ContentHeight);

    auto* title = new QLabel(qt(texts::Title), window);
    title->setFont(Palette::display(26));
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextColor(*title, Palette::ink());
    title->setTextFormat(Qt::PlainText);
    place(*title, TitleFrame, ContentHeight);

    auto* panel = new Panel(Palette::surface(), 4, window);
    place(*panel, PanelFrame, ContentHeight);

    status->setFont(Palette::body(14));
    setTextColor(*status, Palette::ink());
    status->setMaximumLines(4);
    status->setParent(panel);
    place(*status, StatusFrame, PanelHeight);

    bar->setMinValue(0);
    bar->setMaxValue(100);
    bar->setIndeterminate(false);
    bar->setAccessibleName(qt(texts::ProgressName));
    bar->setParent(window);
    place(*bar, BarFrame, ContentHeight);

    setTextColor(*details, Palette::ink3());
    details->setFont(detailsFont());
    details->setMaximumLines(2);
    details->setParent(window);
    place(*details, DetailsFrame, ContentHeight);

    auto* action = new PrimaryButton(qt(texts::DownloadAndInstall), window);
    action->setFlat(true);
    // Return presses the button, and only while it is enabled.
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window);
        QObject::connect(shortcut, &QShortcut::activated, action, [button = action] {
            if (button->isEnabled()) button->click();
        });
    }
    place(*action, ActionFrame, ContentHeight);
    return {window, status, details, bar, action};
}

}  // namespace orbitreel
