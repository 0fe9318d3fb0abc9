// Draws SVG resources ahead of time for the boxes the first windows ask for,
// and writes them with a resource file that names each one as the windows
// will look it up (see src/view/svg_raster.h).
//
//   hw_svg_prerender OUT_DIR NAME WIDTHxHEIGHT SCALES ALIAS=FILE...
//
// ALIAS is the picture's resource path without ":/" (onboarding/Check.svg),
// SCALES a comma-separated list of whole ratios (1,2).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

#include "view/svg_raster.h"

namespace {

int fail(const QString& why) {
    std::fprintf(stderr, "hw_svg_prerender: %s\n", qPrintable(why));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) return fail(QStringLiteral("usage: OUT_DIR NAME WIDTHxHEIGHT SCALES ALIAS=FILE..."));
    const QDir out(args[1]);
    const QString name = args[2];
    const QStringList sides = args[3].split(QLatin1Char('x'));
    bool wide = false, high = false;
    const QSize box(sides.value(0).toInt(&wide), sides.value(1).toInt(&high));
    if (sides.size() != 2 || !wide || !high || box.isEmpty()) return fail(QStringLiteral("bad box ") + args[3]);
    QList<int> scales;
    for (const QString& s : args[4].split(QLatin1Char(','))) {
        bool whole = false;
        const int scale = s.toInt(&whole);
        if (!whole || scale < 1 || scale > 4) return fail(QStringLiteral("bad scale ") + s);
        scales << scale;
    }
    if (!out.mkpath(QStringLiteral("."))) return fail(QStringLiteral("cannot make ") + out.path());

    QString qrc = QStringLiteral("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/prerendered\">\n");
    for (const QString& pair : args.mid(5)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0) return fail(QStringLiteral("expected ALIAS=FILE, got ") + pair);
        const QString alias = pair.left(eq), file = pair.mid(eq + 1);
        for (const int scale : scales) {
            const QImage image = hw::rasterizeSvg(file, box, scale);
            if (image.isNull()) return fail(QStringLiteral("cannot draw ") + file);
            // The name the windows look up, under the resource prefix.
            const QString key = hw::prerenderedPath(QStringLiteral(":/") + alias, box, scale)
                                    .mid(QStringLiteral(":/prerendered/").size());
            const QString target = out.filePath(QString(key).replace(QLatin1Char('/'), QLatin1Char('_')));
            QSaveFile saved(target);
            if (!saved.open(QIODevice::WriteOnly) || saved.write(hw::encodePrerendered(image)) < 0 || !saved.commit())
                return fail(QStringLiteral("cannot write ") + target);
            qrc += QStringLiteral("    <file alias=\"%1\">%2</file>\n").arg(key, QFileInfo(target).fileName());
        }
    }
    qrc += QStringLiteral("  </qresource>\n</RCC>\n");
    QSaveFile list(out.filePath(name + QStringLiteral(".qrc")));
    if (!list.open(QIODevice::WriteOnly) || list.write(qrc.toUtf8()) < 0 || !list.commit())
        return fail(QStringLiteral("cannot write ") + list.fileName());
    return 0;
}
