// Draws the program's icons once and writes them as PNG files (16 x 16 and 32 x 32 each, the
// program's own icon also in the larger sizes of the desktop's icon theme) into the folder given
// on the command line. The PNGs are committed under res/icons; run this again
// only to change a picture:  quillmar-make-icons res/icons
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

namespace {

using Painter = std::function<void(QPainter&, double)>;

const QColor kDiscRed(200, 24, 24);
const QColor kDiscDark(120, 8, 8);
const QColor kRim(255, 190, 190);

// A red disc with a light rim; s is the edge length of the picture.
void PaintDisc(QPainter& p, double s) {
  QRadialGradient fill(QPointF(s * 0.38, s * 0.34), s * 0.62);
  fill.setColorAt(0.0, QColor(240, 70, 70));
  fill.setColorAt(1.0, kDiscRed);
  p.setBrush(fill);
  p.setPen(QPen(kDiscDark, s / 16.0));
  p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kRim, s / 20.0));
  p.drawEllipse(QRectF(s * 0.16, s * 0.16, s * 0.68, s * 0.68));
}

void PaintGlyph(QPainter& p, double s, const QString& glyph) {
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(static_cast<int>(s * 0.62));
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, -s * 0.03, s, s), Qt::AlignCenter, glyph);
}

void PaintMainframe(QPainter& p, double s) {
  PaintDisc(p, s);
  p.setPen(QPen(Qt::white, s / 7.0, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(s * 0.5, s * 0.28), QPointF(s * 0.5, s * 0.72));
  p.drawLine(QPointF(s * 0.28, s * 0.5), QPointF(s * 0.72, s * 0.5));
}

void PaintComputer(QPainter& p, double s) {
  // Monitor with a blue screen on a small stand, a flat system box below.
  p.setPen(QPen(QColor(60, 60, 60), s / 24.0));
  p.setBrush(QColor(210, 210, 205));
  p.drawRect(QRectF(s * 0.16, s * 0.06, s * 0.68, s * 0.52));
  p.setBrush(QColor(40, 90, 190));
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(s * 0.24, s * 0.13, s * 0.52, s * 0.36));
  p.setBrush(QColor(150, 150, 145));
  p.drawRect(QRectF(s * 0.42, s * 0.58, s * 0.16, s * 0.10));
  p.setPen(QPen(QColor(60, 60, 60), s / 24.0));
  p.setBrush(QColor(210, 210, 205));
  p.drawRect(QRectF(s * 0.06, s * 0.68, s * 0.88, s * 0.24));
  p.setPen(QPen(QColor(40, 160, 40), s / 12.0));
  p.drawPoint(QPointF(s * 0.80, s * 0.80));
  p.setPen(QPen(QColor(90, 90, 90), s / 16.0));
  p.drawLine(QPointF(s * 0.16, s * 0.80), QPointF(s * 0.52, s * 0.80));
}

void PaintQuestion(QPainter& p, double s) {
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(static_cast<int>(s * 1.0));
  QPainterPath path;
  path.addText(0, 0, font, "?");
  QRectF box = path.boundingRect();
  path.translate(s / 2 - box.center().x(), s / 2 - box.center().y());
  p.setPen(QPen(QColor(110, 80, 0), s / 14.0));
  p.setBrush(QColor(250, 215, 20));
  p.drawPath(path);
}

bool WriteIcon(const QString& folder, const QString& name, int size, const Painter& paint) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  paint(p, size);
  p.end();
  QString path = QString("%1/%2-%3.png").arg(folder, name).arg(size);
  if (!image.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const struct {
    const char* name;
    Painter paint;
  } icons[] = {
      {"mainframe", PaintMainframe},
      {"replaytv", [](QPainter& p, double s) { PaintDisc(p, s), PaintGlyph(p, s, "r"); }},
      {"disk1of2", [](QPainter& p, double s) { PaintDisc(p, s), PaintGlyph(p, s, "1"); }},
      {"disk2of2", [](QPainter& p, double s) { PaintDisc(p, s), PaintGlyph(p, s, "2"); }},
      {"computer", PaintComputer},
      {"question", PaintQuestion},
  };
  for (const auto& icon : icons) {
    const bool program_icon = std::string_view(icon.name) == "mainframe";
    for (int size :
         program_icon ? std::vector<int>{16, 32, 48, 64, 128, 256} : std::vector<int>{16, 32}) {
      if (!WriteIcon(folder, icon.name, size, icon.paint))
        return 1;
    }
  }
  return 0;
}
