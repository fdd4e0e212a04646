// The font roles: faces looked up by name in Qt's font database, the system
// fallbacks, and the registration of the brand fonts shipped in the bundle.

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QMutex>
#include <QRawFont>
#include <QtEndian>
#include <algorithm>
#include <cmath>

#include "ui/palette.h"

namespace orbitreel::Palette {

namespace {

// A face as the font database knows it.
struct FaceRef {
    QString family;
    QString style;
};

// Names under which the bundled files were registered: their PostScript and
// full names and their file names. The builds we ship carry instancer names
// ("OxaniumExtraLight-Bold") in their name tables, while the file keeps the
// face's published PostScript name ("Oxanium-Bold"), so both are recorded.
struct Aliases {
    QMutex mutex;
    QHash<QString, FaceRef> byName;  // keys folded to lower case
};

Aliases& aliases() {
    static Aliases instance;
    return instance;
}

bool known(const FaceRef& ref) {
    return QFontDatabase::families().contains(ref.family) && QFontDatabase::styles(ref.family).contains(ref.style);
}

QString compact(QString text) { return text.remove(QLatin1Char(' ')); }

// Looks `name` up as a registered alias, then against the database as a
// family ("Chakra Petch"), a full name ("Oxanium Bold") or a PostScript-style
// name ("Oxanium-Bold").
std::optional<FaceRef> resolve(const QString& name) {
    {
        Aliases& registry = aliases();
        const QMutexLocker lock(&registry.mutex);
        const auto found = registry.byName.constFind(name.toLower());
        // A registration can be undone (removeApplicationFont): trust the
        // alias only while the database still holds the face.
        if (found != registry.byName.cend() && known(*found)) return *found;
    }
    for (const QString& family : QFontDatabase::families()) {
        const QStringList styles = QFontDatabase::styles(family);
        if (styles.isEmpty()) continue;
        if (family.compare(name, Qt::CaseInsensitive) == 0) {
            const QString regular = QStringLiteral("Regular");
            return FaceRef{family, styles.contains(regular) ? regular : styles.first()};
        }
        for (const QString& style : styles) {
            if ((family + QLatin1Char(' ') + style).compare(name, Qt::CaseInsensitive) == 0 ||
                (compact(family) + QLatin1Char('-') + compact(style)).compare(name, Qt::CaseInsensitive) == 0)
                return FaceRef{family, style};
        }
    }
    return std::nullopt;
}

// The frames are laid out in points taken as device-independent pixels, the
// way a macOS point is one pixel at 1×. Sizing fonts in pixels keeps text and
// frames in the same proportion on every screen; Qt's own points would follow
// the screen's logical DPI and grow text by 96/72 against the frames.
QFont sized(QFont font, double size) {
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    return font;
}

QFont systemFallback(QFontDatabase::SystemFont which, double size, QFont::Weight weight) {
    QFont font = sized(QFontDatabase::systemFont(which), size);
    font.setWeight(weight);
    return font;
}

// The full name (4) and PostScript name (6) from an sfnt "name" table.
QStringList faceNames(const QByteArray& table) {
    QStringList names;
    const auto u16 = [&](qsizetype at) { return qFromBigEndian<quint16>(table.constData() + at); };
    if (table.size() < 6) return names;
    const qsizetype count = u16(2);
    const qsizetype strings = u16(4);
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype record = 6 + 12 * i;
        if (record + 12 > table.size()) break;
        const quint16 platformId = u16(record);
        const quint16 nameId = u16(record + 6);
        const qsizetype length = u16(record + 8);
        const qsizetype start = strings + u16(record + 10);
        if ((nameId != 4 && nameId != 6) || start + length > table.size()) continue;
        QString text;
        if (platformId == 0 || platformId == 3) {  // UTF-16 big-endian
            for (qsizetype k = 0; k + 1 < length; k += 2) text += QChar(u16(start + k));
        } else if (platformId == 1) {  // Mac Roman; names are ASCII in practice
            text = QString::fromLatin1(table.constData() + start, length);
        }
        if (!text.isEmpty() && !names.contains(text)) names.append(text);
    }
    return names;
}

void registerFile(const QFileInfo& file) {
    QFile input(file.filePath());
    if (!input.open(QIODevice::ReadOnly)) return;
    const QByteArray data = input.readAll();
    const int id = QFontDatabase::addApplicationFontFromData(data);
    if (id < 0) return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) return;

    const QRawFont raw(data, 12);
    FaceRef ref{raw.familyName(), raw.styleName()};
    if (!raw.isValid() || !known(ref)) {
        const QStringList styles = QFontDatabase::styles(families.first());
        ref = FaceRef{families.first(), styles.value(0)};
    }
    QStringList names = raw.isValid() ? faceNames(raw.fontTable("name")) : QStringList();
    names.append(file.completeBaseName());

    Aliases& registry = aliases();
    const QMutexLocker lock(&registry.mutex);
    for (const QString& name : names) registry.byName.insert(name.toLower(), ref);
}

}  // namespace

std::optional<QFont> face(const QStringList& names, double size) {
    for (const QString& name : names) {
        if (const auto ref = resolve(name)) {
            QFont font = QFontDatabase::font(ref->family, ref->style, 12);
            // Match by style name too: a family may hold several weights.
            font.setStyleName(ref->style);
            return sized(font, size);
        }
    }
    return std::nullopt;
}

QFont display(double size) {
    if (auto font = face({"Oxanium-Bold", "Oxanium Bold"}, size)) return *font;
    return systemFallback(QFontDatabase::GeneralFont, size, QFont::Bold);
}

QFont body(double size) {
    if (auto font = face({"ChakraPetch-Regular", "Chakra Petch"}, size)) return *font;
    return systemFallback(QFontDatabase::GeneralFont, size, QFont::Normal);
}

QFont label(double size) {
    if (auto font = face({"KodeMono-SemiBold", "KodeMono-Bold", "Kode Mono"}, size)) return *font;
    return systemFallback(QFontDatabase::FixedFont, size, QFont::DemiBold);
}

void registerBundledFonts(const QString& resourcesFolder) {
    const QDir fonts(QDir(resourcesFolder).filePath(QStringLiteral("Fonts")));
    for (const QFileInfo& file : fonts.entryInfoList({QStringLiteral("*.woff2")}, QDir::Files, QDir::Name))
        registerFile(file);
}

}  // namespace orbitreel::Palette
