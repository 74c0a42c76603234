// Draws every picture that the program loads from rc/ and writes them as PNG files into
// the folder given on the command line. Run by the build (target tessaro_pictures).
//
// All pictures share one flat palette and one family of line weights, and are drawn at
// exactly the pixel size the program shows them at, so nothing is scaled at run time.
// Nothing here draws text: no fonts are involved, the output does not depend on the
// fonts installed, and no GUI platform is needed.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>
#include <QTextStream>
#include <QTransform>
#include <QtMath>

#include <cmath>
#include <functional>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// Palette: a muted blue-grey ink, light greys, and one shade pair (fill, edge) per signal
// colour. Edges are the darker shade of their fill, so every shape also holds up on a dark
// desktop theme.

namespace ink {
const QColor dark(0x37, 0x47, 0x4f);      // outlines, structure
const QColor mid(0x60, 0x7d, 0x8b);       // secondary outlines
const QColor grey(0xb0, 0xbe, 0xc5);      // inactive fill
const QColor greyEdge(0x8f, 0xa1, 0xab);  // inactive outline
const QColor pale(0xec, 0xef, 0xf1);      // light surfaces
const QColor white(0xff, 0xff, 0xff);
}  // namespace ink

struct Shade {
  QColor fill;
  QColor edge;
};

const Shade green{QColor(0x43, 0xa0, 0x47), QColor(0x2e, 0x7d, 0x32)};
const Shade blue{QColor(0x1e, 0x88, 0xe5), QColor(0x15, 0x65, 0xc0)};
const Shade amber{QColor(0xff, 0xa0, 0x00), QColor(0xe6, 0x6a, 0x00)};
const Shade red{QColor(0xe5, 0x39, 0x35), QColor(0xb7, 0x1c, 0x1c)};
const Shade sun{QColor(0xff, 0xc1, 0x07), QColor(0xf5, 0x7f, 0x17)};
const Shade greyShade{ink::grey, ink::greyEdge};

// Line weights: 2 px on the small pictures (64 px and less), 3 px on the middle ones
// (mount buttons, centre mark, centering arrows), 5 px on the large corner arrows.
constexpr qreal lineSmall = 2.0;
constexpr qreal lineMid = 3.0;
constexpr qreal lineLarge = 5.0;

QPen outline(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// ---------------------------------------------------------------------------------------
// Canvas helpers

QImage blank(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

void prepare(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

// Draws a picture of the given size with the given painting function.
QImage draw(int width, int height, const std::function<void(QPainter&)>& paint) {
  QImage image = blank(width, height);
  QPainter p(&image);
  prepare(p);
  paint(p);
  p.end();
  return image;
}

// The unselected look of a picture: grey, lighter and with less contrast; alpha kept.
QImage greyedOut(const QImage& source) {
  QImage image = source.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb px = line[x];
      const int luma = (qRed(px) * 299 + qGreen(px) * 587 + qBlue(px) * 114) / 1000;
      const int level = 96 + luma * 150 / 255;  // squeeze 0..255 into 96..246
      line[x] = qRgba(level, level, level + 4 > 255 ? 255 : level + 4, qAlpha(px) * 3 / 4);
    }
  }
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// ---------------------------------------------------------------------------------------
// Window icon: a sensor bar at the top watching, through its view cone, a screen line on
// which a pen tip is tracked. Few, large shapes, so it stays readable at 32 x 32.

QImage windowIcon() {
  return draw(256, 256, [](QPainter& p) {
    // Tile.
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, 240, 240), 52, 52);
    p.fillPath(tile, blue.edge);
    p.setClipPath(tile);

    // View cone from the lens down to the screen line.
    QPolygonF cone;
    cone << QPointF(128, 84) << QPointF(34, 206) << QPointF(222, 206);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 56));
    p.drawPolygon(cone);

    // Screen line.
    p.setBrush(ink::white);
    p.drawRoundedRect(QRectF(30, 200, 196, 16), 8, 8);

    // Sensor body with its lens.
    p.setBrush(ink::white);
    p.drawRoundedRect(QRectF(64, 44, 128, 44), 22, 22);
    p.setBrush(ink::dark);
    p.drawEllipse(QPointF(128, 66), 15, 15);
    p.setBrush(blue.fill);
    p.drawEllipse(QPointF(128, 66), 8, 8);

    // Pen, leaning to the right, its tip on the screen line.
    QTransform t;
    t.translate(150, 198);
    t.rotate(-30);
    p.setTransform(t);
    QPainterPath pen;
    // Along negative y from the tip: cone, body, rounded end.
    pen.moveTo(0, 0);
    pen.lineTo(-17, -34);
    pen.lineTo(-17, -100);
    pen.quadTo(-17, -116, 0, -116);
    pen.quadTo(17, -116, 17, -100);
    pen.lineTo(17, -34);
    pen.closeSubpath();
    p.setPen(outline(blue.edge, 6));
    p.setBrush(amber.fill);
    p.drawPath(pen);
    p.setPen(Qt::NoPen);
    p.setBrush(ink::dark);
    p.drawEllipse(QPointF(0, -8), 7, 7);
    p.resetTransform();
  });
}

// ---------------------------------------------------------------------------------------
// Battery, 64 x 32: a horizontal cell with its terminal on the right and four level
// segments. level is 0 to 4 segments, or -1 for "unknown".

void questionMark(QPainter& p, QPointF centre, qreal height, const QColor& color, qreal width) {
  // A question mark as strokes: hook, stem, dot. Drawn without a font.
  const qreal r = height * 0.24;
  const QPointF arcCentre(centre.x(), centre.y() - height * 0.22);
  QPainterPath hook;
  hook.arcMoveTo(QRectF(arcCentre.x() - r, arcCentre.y() - r, 2 * r, 2 * r), 160);
  hook.arcTo(QRectF(arcCentre.x() - r, arcCentre.y() - r, 2 * r, 2 * r), 160, -250);
  hook.lineTo(centre.x(), centre.y() + height * 0.14);
  p.setPen(outline(color, width));
  p.setBrush(Qt::NoBrush);
  p.drawPath(hook);
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawEllipse(QPointF(centre.x(), centre.y() + height * 0.38), width * 0.72, width * 0.72);
}

void exclamationMark(QPainter& p, QPointF centre, qreal height, const QColor& color, qreal width) {
  p.setPen(outline(color, width));
  p.drawLine(QPointF(centre.x(), centre.y() - height * 0.42), QPointF(centre.x(), centre.y() + height * 0.12));
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawEllipse(QPointF(centre.x(), centre.y() + height * 0.38), width * 0.7, width * 0.7);
}

QImage battery(int level) {
  return draw(64, 32, [level](QPainter& p) {
    const bool unknown = level < 0;
    const bool empty = level == 0;
    const bool low = level == 1;
    const QColor frame = empty ? red.fill : unknown ? ink::greyEdge : ink::dark;

    // Body and terminal. Edges lie on whole pixels, so the 2 px outline stays crisp.
    const QRectF body(3, 5, 52, 22);
    p.setPen(Qt::NoPen);
    p.setBrush(ink::white);
    p.drawRoundedRect(body, 5, 5);
    p.setBrush(frame);
    p.drawRoundedRect(QRectF(55, 11, 6, 10), 2, 2);
    p.setPen(outline(frame, lineSmall));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body, 5, 5);

    // Level segments inside: four of 10 x 16 px with 2 px gaps.
    const Shade& shade = low ? amber : green;
    const qreal gap = 2.0;
    const QRectF inner = body.adjusted(3, 3, -3, -3);
    const qreal segment = (inner.width() - 3 * gap) / 4.0;
    for (int i = 0; i < 4 && i < level; ++i) {
      const QRectF r(inner.left() + i * (segment + gap), inner.top(), segment, inner.height());
      p.setPen(Qt::NoPen);
      p.setBrush(shade.fill);
      p.drawRoundedRect(r, 1, 1);
    }

    if (unknown) questionMark(p, body.center(), 17, ink::mid, 2.6);
    if (empty) exclamationMark(p, body.center(), 16, red.fill, 3.0);
  });
}

// ---------------------------------------------------------------------------------------
// Calibration corner arrows, 200 x 200. This picture is shown as it is in the top-left
// corner of the full-screen calibration window and mirrored for the other corners, so it
// points to the top-left corner of the picture. All decoration is symmetric about the
// arrow's diagonal, which keeps the mirrored copies alike.

enum class CornerState { Todo, Active, Done };

QPainterPath cornerArrowShape() {
  // Built pointing along -x with its tip at the origin, then turned 45 degrees clockwise
  // so it points up and to the left, and moved to its place.
  const qreal length = 176, headLength = 70, headHalf = 50, shaftHalf = 19;
  QPolygonF poly;
  poly << QPointF(0, 0) << QPointF(headLength, -headHalf) << QPointF(headLength, -shaftHalf)
       << QPointF(length, -shaftHalf) << QPointF(length, shaftHalf) << QPointF(headLength, shaftHalf)
       << QPointF(headLength, headHalf) << QPointF(0, 0);
  QTransform t;
  t.translate(46, 46);
  t.rotate(45);
  QPainterPath path;
  path.addPolygon(t.map(poly));
  path.closeSubpath();
  return path;
}

QImage cornerArrow(CornerState state) {
  return draw(200, 200, [state](QPainter& p) {
    const QPainterPath arrow = cornerArrowShape();
    const QPointF corner(0, 0);
    switch (state) {
      case CornerState::Todo:
        // Pending: a pale arrow with a grey rim, nothing at the corner.
        p.setPen(outline(greyShade.edge, lineLarge));
        p.setBrush(ink::pale);
        p.drawPath(arrow);
        break;
      case CornerState::Active: {
        // Waiting for the pen: strong blue arrow and rings around the corner point.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(blue.fill.red(), blue.fill.green(), blue.fill.blue(), 70));
        p.drawEllipse(corner, 30, 30);
        p.setPen(outline(blue.fill, lineLarge));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(corner, 30, 30);
        p.setPen(outline(QColor(blue.fill.red(), blue.fill.green(), blue.fill.blue(), 110), lineLarge - 2));
        p.drawEllipse(corner, 46, 46);
        p.setPen(outline(blue.edge, lineLarge + 2));
        p.setBrush(blue.fill);
        p.drawPath(arrow);
        break;
      }
      case CornerState::Done:
        // Taken: green arrow and a filled dot at the corner point.
        p.setPen(Qt::NoPen);
        p.setBrush(green.fill);
        p.drawEllipse(corner, 30, 30);
        p.setPen(outline(green.edge, lineLarge));
        p.setBrush(green.fill);
        p.drawPath(arrow);
        break;
    }
  });
}

// ---------------------------------------------------------------------------------------
// Centering aid arrows, 75 x 75. The left row shows this picture unrotated and the other
// rows turn it by 90, 180 and 270 degrees so that every row points at the centre mark;
// the picture therefore points to the right. The chevron sits in the middle of the
// picture and is narrow enough that neighbours placed 37 px apart do not touch.

QImage centerArrow(const Shade& shade) {
  return draw(75, 75, [&shade](QPainter& p) {
    QPainterPath chevron;
    chevron.moveTo(25, 12);
    chevron.lineTo(51, 37.5);
    chevron.lineTo(25, 63);
    // A wide stroke in the dark shade under a narrower one in the fill gives the outline.
    const qreal width = 18;
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(shade.edge, width));
    p.drawPath(chevron);
    p.setPen(outline(shade.fill, width - 2 * lineMid + 1));
    p.drawPath(chevron);
  });
}

// Centre mark of the centering screen, 150 x 150: a target to hold the pen on.
QImage centerMark() {
  return draw(150, 150, [](QPainter& p) {
    const QPointF c(75, 75);
    p.setPen(outline(ink::dark, lineMid));
    p.setBrush(ink::white);
    p.drawEllipse(c, 58, 58);
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(ink::mid, lineMid));
    p.drawEllipse(c, 34, 34);
    // Cross hairs, open in the middle.
    p.setPen(outline(ink::dark, lineMid));
    for (int i = 0; i < 4; ++i) {
      p.save();
      p.translate(c);
      p.rotate(90.0 * i);
      p.drawLine(QPointF(0, -72), QPointF(0, -44));
      p.drawLine(QPointF(0, -26), QPointF(0, -14));
      p.restore();
    }
    p.setPen(Qt::NoPen);
    p.setBrush(blue.fill);
    p.drawEllipse(c, 7, 7);
  });
}

// ---------------------------------------------------------------------------------------
// Mount buttons, 160 x 120, side view: the screen on the wall to the right, the sensor
// hanging from the ceiling or standing on a tripod, and its view cone onto the screen.

const QRectF mountScreen(136, 26, 10, 70);  // the screen's face on the wall

void mountWallAndScreen(QPainter& p, bool ceiling) {
  // Wall, meeting the ceiling or the floor.
  p.setPen(Qt::NoPen);
  p.setBrush(ink::grey);
  p.drawRect(QRectF(148, ceiling ? 4 : 8, 8, 108));
  // Screen: a panel on the wall, seen edge-on, with a bright face.
  p.setPen(outline(blue.edge, lineMid));
  p.setBrush(QColor(0xbb, 0xde, 0xfb));
  p.drawRoundedRect(mountScreen, 2, 2);
}

void mountCone(QPainter& p, QPointF lens) {
  QPolygonF cone;
  cone << lens << QPointF(mountScreen.left(), mountScreen.top() + 2)
       << QPointF(mountScreen.left(), mountScreen.bottom() - 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(blue.fill.red(), blue.fill.green(), blue.fill.blue(), 70));
  p.drawPolygon(cone);
  QPen rim(blue.fill, 1.5, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin);
  rim.setDashPattern({3, 3});
  p.setPen(rim);
  p.drawLine(lens, cone[1]);
  p.drawLine(lens, cone[2]);
}

// The sensor: a rounded housing with its lens on the side facing the screen, turned by
// angle degrees (clockwise) about its centre.
QPointF mountSensor(QPainter& p, QPointF centre, qreal angle) {
  p.save();
  p.translate(centre);
  p.rotate(angle);
  p.setPen(outline(ink::dark, lineMid));
  p.setBrush(ink::pale);
  p.drawRoundedRect(QRectF(-20, -11, 40, 22), 7, 7);
  p.setBrush(ink::dark);
  p.drawChord(QRectF(14, -9, 14, 18), -90 * 16, 180 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(blue.fill);
  p.drawEllipse(QPointF(21, 0), 3, 3);
  p.restore();
  QTransform t;
  t.translate(centre.x(), centre.y());
  t.rotate(angle);
  return t.map(QPointF(26, 0));
}

QImage mountCeiling() {
  return draw(160, 120, [](QPainter& p) {
    mountWallAndScreen(p, true);
    // Ceiling slab with hatching above it.
    p.setPen(Qt::NoPen);
    p.setBrush(ink::grey);
    p.drawRect(QRectF(4, 4, 152, 8));
    p.setPen(outline(ink::dark, lineMid));
    p.drawLine(QPointF(4, 12), QPointF(148, 12));
    // Mount: plate and rod.
    p.setBrush(ink::dark);
    p.drawRoundedRect(QRectF(38, 12, 20, 5), 1.5, 1.5);
    p.drawLine(QPointF(48, 16), QPointF(48, 44));
    const QPointF lens = mountSensor(p, QPointF(52, 54), 14);
    mountCone(p, lens);
  });
}

QImage mountTripod() {
  return draw(160, 120, [](QPainter& p) {
    mountWallAndScreen(p, false);
    // Floor.
    p.setPen(Qt::NoPen);
    p.setBrush(ink::grey);
    p.drawRect(QRectF(4, 108, 152, 8));
    p.setPen(outline(ink::dark, lineMid));
    p.drawLine(QPointF(4, 108), QPointF(148, 108));
    // Tripod: head, column, three legs.
    const QPointF head(48, 72);
    p.drawLine(QPointF(48, 62), head);
    p.drawLine(head, QPointF(22, 106));
    p.drawLine(head, QPointF(74, 106));
    p.drawLine(head, QPointF(48, 104));
    p.setBrush(ink::dark);
    p.drawRoundedRect(QRectF(42, 69, 12, 6), 2, 2);
    const QPointF lens = mountSensor(p, QPointF(50, 52), -10);
    mountCone(p, lens);
  });
}

// ---------------------------------------------------------------------------------------
// Easy threshold pictures, 64 x 64: a cloud (dim surroundings) and a sun (bright).

QImage cloud() {
  return draw(64, 64, [](QPainter& p) {
    QPainterPath shape;
    shape.addEllipse(QPointF(22, 36), 11, 11);
    QPainterPath puff;
    puff.addEllipse(QPointF(35, 28), 14, 14);
    shape = shape.united(puff);
    QPainterPath puff2;
    puff2.addEllipse(QPointF(47, 37), 10, 10);
    shape = shape.united(puff2);
    QPainterPath base;
    base.addRoundedRect(QRectF(11, 34, 46, 13), 6.5, 6.5);
    shape = shape.united(base).simplified();
    p.setPen(outline(ink::mid, lineSmall + 0.5));
    p.setBrush(ink::pale);
    p.drawPath(shape);
  });
}

QImage sunPicture() {
  return draw(64, 64, [](QPainter& p) {
    const QPointF c(32, 32);
    p.setPen(outline(sun.edge, 4));
    for (int i = 0; i < 8; ++i) {
      const qreal a = qDegreesToRadians(45.0 * i);
      p.drawLine(c + QPointF(std::cos(a), std::sin(a)) * 21, c + QPointF(std::cos(a), std::sin(a)) * 28);
    }
    p.setPen(outline(sun.edge, lineSmall + 0.5));
    p.setBrush(sun.fill);
    p.drawEllipse(c, 14, 14);
  });
}

// ---------------------------------------------------------------------------------------

struct Picture {
  const char* name;
  std::function<QImage()> make;
};

std::vector<Picture> pictures() {
  return {
      {"tessaro_icon.png", windowIcon},
      {"batt_unknown.png", [] { return battery(-1); }},
      {"batt_100.png", [] { return battery(4); }},
      {"batt_75.png", [] { return battery(3); }},
      {"batt_50.png", [] { return battery(2); }},
      {"batt_25.png", [] { return battery(1); }},
      {"batt_0.png", [] { return battery(0); }},
      {"arrow_todo.png", [] { return cornerArrow(CornerState::Todo); }},
      {"arrow_active.png", [] { return cornerArrow(CornerState::Active); }},
      {"arrow_done.png", [] { return cornerArrow(CornerState::Done); }},
      {"arrow_center_off.png", [] { return centerArrow(greyShade); }},
      {"arrow_center_okay.png", [] { return centerArrow(green); }},
      {"arrow_center_bad.png", [] { return centerArrow(red); }},
      {"center.png", centerMark},
      {"ceiling.png", mountCeiling},
      {"ceiling_gray.png", [] { return greyedOut(mountCeiling()); }},
      {"tripod.png", mountTripod},
      {"tripod_gray.png", [] { return greyedOut(mountTripod()); }},
      {"cload.png", cloud},
      {"sun.png", sunPicture},
  };
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QTextStream err(stderr);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() == 2 && args.at(1) == QLatin1String("--list")) {
    QTextStream out(stdout);
    for (const Picture& picture : pictures()) out << picture.name << '\n';
    return 0;
  }
  if (args.size() != 2) {
    err << "usage: " << args.value(0) << " OUTPUT_DIR | --list\n";
    return 2;
  }
  QDir dir(args.at(1));
  if (!dir.mkpath(QStringLiteral("."))) {
    err << "cannot create " << dir.path() << '\n';
    return 1;
  }
  int failures = 0;
  for (const Picture& picture : pictures()) {
    const QString path = dir.filePath(QString::fromLatin1(picture.name));
    if (!picture.make().save(path, "PNG")) {
      err << "cannot write " << path << '\n';
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
