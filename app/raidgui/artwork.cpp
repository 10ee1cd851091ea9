#include "app/raidgui/artwork.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <vector>

namespace raid::art {

namespace {
QPixmap Canvas(int w, int h, qreal dpr) {
  QPixmap p(static_cast<int>(w * dpr + 0.5), static_cast<int>(h * dpr + 0.5));
  p.setDevicePixelRatio(dpr);
  p.fill(Qt::transparent);
  return p;
}

const QColor kInk(0x23, 0x2F, 0x3E);
const QColor kAmberTop(0xFF, 0xD5, 0x4F);
const QColor kAmberBottom(0xF5, 0xA6, 0x23);
const QColor kPaperTop(0xFF, 0xFF, 0xFF);
const QColor kPaperBottom(0xE3, 0xE8, 0xEE);
const QColor kEdge(0x9A, 0xA5, 0xB1);

// A rounded box with its edge, shaded from `top` at its top left corner to
// `bottom` at `shadeEnd`.
void ShadedBox(QPainter& g, const QRectF& r, qreal radius, const QPointF& shadeEnd, const QColor& top,
               const QColor& bottom, const QPen& edge) {
  QLinearGradient grad(r.topLeft(), shadeEnd);
  grad.setColorAt(0, top);
  grad.setColorAt(1, bottom);
  g.setPen(edge);
  g.setBrush(grad);
  g.drawRoundedRect(r, radius, radius);
}

void RoundedPanel(QPainter& g, const QRectF& r, bool selected, qreal radius) {
  ShadedBox(g, r, radius, r.bottomLeft(), selected ? kAmberTop : kPaperTop, selected ? kAmberBottom : kPaperBottom,
            QPen(selected ? QColor(0xC7, 0x85, 0x12) : kEdge, 1));
}

void DrawGlyph(QPainter& g, Glyph glyph, const QRectF& box) {
  g.save();
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  g.setBrush(Qt::NoBrush);
  const QPointF c = box.center();
  const qreal s = box.width() / 2 - 2;
  switch (glyph) {
    case Glyph::Status: {  // a pulse line
      QPainterPath p;
      p.moveTo(c.x() - s, c.y());
      p.lineTo(c.x() - s / 3, c.y());
      p.lineTo(c.x() - s / 6, c.y() - s * 0.8);
      p.lineTo(c.x() + s / 6, c.y() + s * 0.8);
      p.lineTo(c.x() + s / 3, c.y());
      p.lineTo(c.x() + s, c.y());
      g.drawPath(p);
      break;
    }
    case Glyph::Setup:  // a gear, simplified to a ring with spokes
      g.drawEllipse(c, s * 0.55, s * 0.55);
      for (int i = 0; i < 8; ++i) {
        g.save();
        g.translate(c);
        g.rotate(i * 45);
        g.drawLine(QPointF(0, -s * 0.6), QPointF(0, -s * 0.95));
        g.restore();
      }
      break;
    case Glyph::Upgrade: {  // an arrow up onto a chip
      g.drawRect(QRectF(c.x() - s * 0.7, c.y() + s * 0.3, s * 1.4, s * 0.6));
      g.drawLine(QPointF(c.x(), c.y() + s * 0.1), QPointF(c.x(), c.y() - s));
      g.drawLine(QPointF(c.x(), c.y() - s), QPointF(c.x() - s * 0.45, c.y() - s * 0.5));
      g.drawLine(QPointF(c.x(), c.y() - s), QPointF(c.x() + s * 0.45, c.y() - s * 0.5));
      break;
    }
    case Glyph::Mail: {  // an envelope
      const QRectF e(c.x() - s, c.y() - s * 0.65, 2 * s, s * 1.3);
      g.drawRect(e);
      g.drawLine(e.topLeft(), QPointF(c.x(), c.y() + s * 0.1));
      g.drawLine(e.topRight(), QPointF(c.x(), c.y() + s * 0.1));
      break;
    }
    case Glyph::About:  // an "i" in a circle
      g.drawEllipse(c, s, s);
      g.drawLine(QPointF(c.x(), c.y() - s * 0.1), QPointF(c.x(), c.y() + s * 0.55));
      g.setBrush(kInk);
      g.drawEllipse(QPointF(c.x(), c.y() - s * 0.45), 1.3, 1.3);
      break;
    case Glyph::None: break;
  }
  g.restore();
}

QFont LabelFont(int px, bool bold) {
  QFont f("DejaVu Sans");
  f.setPixelSize(px);
  f.setBold(bold);
  return f;
}
}  // namespace

QPixmap NavPicture(const QString& label, Glyph glyph, bool selected, qreal dpr) {
  const int w = 169, h = 44;
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  RoundedPanel(g, QRectF(1.5, 1.5, w - 3, h - 3), selected, 8);
  DrawGlyph(g, glyph, QRectF(14, 10, 24, 24));
  g.setPen(kInk);
  g.setFont(LabelFont(17, selected));
  g.drawText(QRectF(50, 0, w - 60, h), Qt::AlignVCenter | Qt::AlignLeft, label);
  return pm;
}

QPixmap TabPicture(const QString& label, bool selected, int w, int h, qreal dpr) {
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  QPainterPath p;
  p.moveTo(1, h);
  p.lineTo(1, 6);
  p.quadTo(1, 1, 6, 1);
  p.lineTo(w - 6, 1);
  p.quadTo(w - 1, 1, w - 1, 6);
  p.lineTo(w - 1, h);
  QLinearGradient grad(0, 0, 0, h);
  grad.setColorAt(0, selected ? kAmberTop : kPaperTop);
  grad.setColorAt(1, selected ? kAmberBottom : kPaperBottom);
  g.setPen(QPen(selected ? QColor(0xC7, 0x85, 0x12) : kEdge, 1));
  g.setBrush(grad);
  g.drawPath(p);
  g.setPen(kInk);
  g.setFont(LabelFont(13, selected));
  g.drawText(QRectF(0, 0, w, h), Qt::AlignCenter, label);
  return pm;
}

QPixmap DrivePicture(int w, int h, qreal dpr, DriveLook look) {
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  const QRectF body(4, 8, w - 8, h - 16);
  if (look == DriveLook::Absent) {
    // An empty bay: the outline of the slot and its rails.
    g.setPen(QPen(QColor(0x8A, 0x95, 0xA1), 1.5, Qt::DashLine));
    g.setBrush(QColor(0xE6, 0xEA, 0xEF));
    g.drawRoundedRect(body, 6, 6);
    g.setPen(QPen(QColor(0xA9, 0xB3, 0xBD), 2));
    g.drawLine(QPointF(body.left() + 8, body.top() + 10), QPointF(body.right() - 8, body.top() + 10));
    g.drawLine(QPointF(body.left() + 8, body.bottom() - 10), QPointF(body.right() - 8, body.bottom() - 10));
    g.setPen(QColor(0x6E, 0x7B, 0x88));
    g.setFont(LabelFont(11, true));
    g.drawText(body, Qt::AlignCenter, "empty");
    return pm;
  }
  ShadedBox(g, body, 6, body.bottomRight(), QColor(0xB8, 0xC2, 0xCC), QColor(0x6E, 0x7B, 0x88),
            QPen(QColor(0x45, 0x50, 0x5C), 1.5));
  // The platter and its arm.
  const QPointF c(body.center().x(), body.top() + body.height() * 0.45);
  const qreal r = body.width() * 0.33;
  QRadialGradient platter(c, r);
  platter.setColorAt(0, QColor(0xF4, 0xF6, 0xF8));
  platter.setColorAt(1, QColor(0xA9, 0xB3, 0xBD));
  g.setBrush(platter);
  g.drawEllipse(c, r, r);
  g.setBrush(QColor(0x45, 0x50, 0x5C));
  g.drawEllipse(c, r * 0.15, r * 0.15);
  g.setPen(QPen(QColor(0x2B, 0x33, 0x3C), 3, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(body.right() - 10, body.bottom() - 12), QPointF(c.x() + r * 0.35, c.y() + r * 0.25));
  if (look == DriveLook::Failed) {
    g.setPen(QPen(QColor(0xD0, 0x1F, 0x1F), 4, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(c.x() - r * 0.7, c.y() - r * 0.7), QPointF(c.x() + r * 0.7, c.y() + r * 0.7));
    g.drawLine(QPointF(c.x() + r * 0.7, c.y() - r * 0.7), QPointF(c.x() - r * 0.7, c.y() + r * 0.7));
  } else if (look == DriveLook::Rebuilding) {
    // Two arrows turning round the platter.
    g.setPen(QPen(QColor(0xE0, 0x8A, 0x00), 2.5, Qt::SolidLine, Qt::RoundCap));
    g.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - r * 1.15, c.y() - r * 1.15, r * 2.3, r * 2.3);
    g.drawArc(ring, 20 * 16, 120 * 16);
    g.drawArc(ring, 200 * 16, 120 * 16);
  }
  // The activity light: the drive's state.
  QColor light(0x9A, 0xA5, 0xB1);
  switch (look) {
    case DriveLook::Present: light = QColor(0x2E, 0xB8, 0x4B); break;
    case DriveLook::Failed: light = QColor(0xE0, 0x22, 0x22); break;
    case DriveLook::Inserted:
    case DriveLook::Rebuilding: light = QColor(0xF5, 0xA6, 0x23); break;
    default: break;
  }
  g.setPen(QPen(QColor(0x2B, 0x33, 0x3C), 0.8));
  g.setBrush(light);
  g.drawEllipse(QPointF(body.left() + 10, body.bottom() - 9), 3.5, 3.5);
  return pm;
}

QPixmap LogPicture(int w, int h, qreal dpr) {
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  RoundedPanel(g, QRectF(1, 1, w - 2, h - 2), false, 6);
  const QRectF sheet(8, 5, 16, h - 10);
  g.setPen(QPen(kInk, 1.2));
  g.setBrush(Qt::white);
  g.drawRect(sheet);
  for (int i = 0; i < 4; ++i)
    g.drawLine(QPointF(sheet.left() + 3, sheet.top() + 4 + i * 4), QPointF(sheet.right() - 3, sheet.top() + 4 + i * 4));
  g.setFont(LabelFont(13, true));
  g.drawText(QRectF(28, 0, w - 30, h), Qt::AlignVCenter | Qt::AlignLeft, "Log");
  return pm;
}

QPixmap ButtonPicture(const QString& label, int w, int h, qreal dpr) {
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  RoundedPanel(g, QRectF(1, 1, w - 2, h - 2), false, 6);
  g.setPen(kInk);
  g.setFont(LabelFont(13, true));
  g.drawText(QRectF(0, 0, w, h), Qt::AlignCenter, label);
  return pm;
}

namespace {
// The enclosure: a box with two drive bays, one above the other, each with
// its light, in a 60 × 62 box. Nothing overlaps, so it stays clear when small.
void DrawDiskPair(QPainter& g) {
  const QRectF box(4, 10, 52, 48);
  ShadedBox(g, box, 7, box.bottomLeft(), QColor(0x3D, 0x7E, 0xC9), QColor(0x1F, 0x4E, 0x8C),
            QPen(QColor(0x17, 0x35, 0x5E), 1.5));
  for (int i = 0; i < 2; ++i) {
    const QRectF bay(box.left() + 7, box.top() + 8 + i * 18, box.width() - 14, 13);
    g.setPen(QPen(QColor(0x17, 0x35, 0x5E), 1));
    g.setBrush(QColor(0xE9, 0xF1, 0xFA));
    g.drawRoundedRect(bay, 3, 3);
    g.setPen(QPen(QColor(0x7F, 0x9C, 0xBD), 1.5, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(bay.left() + 5, bay.center().y()), QPointF(bay.right() - 14, bay.center().y()));
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(0x2E, 0xB8, 0x4B));
    g.drawEllipse(QPointF(bay.right() - 6, bay.center().y()), 2.6, 2.6);
  }
}
}  // namespace

QPixmap IconPicture(int size) {
  QPixmap pm = Canvas(size, size, 1.0);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  g.scale(size / 64.0, size / 64.0);
  g.translate(1, -6);
  DrawDiskPair(g);
  return pm;
}

QByteArray IconFile() {
  // ICONDIR, one ICONDIRENTRY per image, then the images; every number
  // little-endian. A PNG image is stored whole, its size in the entry.
  const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
  constexpr int kCount = static_cast<int>(sizeof sizes / sizeof sizes[0]);
  QByteArray out;
  auto put16 = [&out](uint32_t v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&put16](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  std::vector<QByteArray> images;
  for (const int size : sizes) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    IconPicture(size).toImage().convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    images.push_back(png);
  }
  put16(0);  // reserved
  put16(1);  // an icon
  put16(kCount);
  uint32_t offset = 6 + 16 * kCount;
  for (int i = 0; i < kCount; ++i) {
    const int size = sizes[i];
    out.append(static_cast<char>(size >= 256 ? 0 : size));  // 0 stands for 256
    out.append(static_cast<char>(size >= 256 ? 0 : size));
    out.append('\0');  // no palette
    out.append('\0');  // reserved
    put16(1);          // colour planes
    put16(32);         // bits per pixel
    put32(static_cast<uint32_t>(images[static_cast<size_t>(i)].size()));
    put32(offset);
    offset += static_cast<uint32_t>(images[static_cast<size_t>(i)].size());
  }
  for (const QByteArray& png : images) out.append(png);
  return out;
}

QPixmap LogoPicture(int w, int h, qreal dpr) {
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  DrawDiskPair(g);
  g.setPen(kInk);
  g.setFont(LabelFont(20, true));
  g.drawText(QRectF(66, 10, w - 66, 30), Qt::AlignLeft | Qt::AlignVCenter, "RAID");
  g.setFont(LabelFont(14, false));
  g.drawText(QRectF(66, 38, w - 66, 24), Qt::AlignLeft | Qt::AlignVCenter, "Manager");
  return pm;
}

QPixmap ThermometerPicture(int w, int h, qreal dpr) {
  QPixmap pm = Canvas(w, h, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(kInk, 1.2));
  g.setBrush(Qt::white);
  g.drawRoundedRect(QRectF(w / 2.0 - 2.5, 1, 5, h - 7), 2.5, 2.5);
  g.setBrush(QColor(0xD9, 0x3B, 0x3B));
  g.drawEllipse(QPointF(w / 2.0, h - 5), 4, 4);
  g.setPen(Qt::NoPen);
  g.drawRect(QRectF(w / 2.0 - 1, h * 0.4, 2, h * 0.5));
  return pm;
}

QPixmap ClockPicture(int minutes, int size, qreal dpr) {
  QPixmap pm = Canvas(size, size, dpr);
  QPainter g(&pm);
  g.setRenderHint(QPainter::Antialiasing);
  const QPointF c(size / 2.0, size / 2.0);
  const qreal r = size / 2.0 - 2;
  QRadialGradient face(c, r);
  face.setColorAt(0, kPaperTop);
  face.setColorAt(1, kPaperBottom);
  g.setPen(QPen(kInk, 1.6));
  g.setBrush(face);
  g.drawEllipse(c, r, r);
  // The period swept from twelve o'clock, clockwise.
  const bool hours = minutes >= 60;
  const qreal sweep = hours ? minutes / 60.0 * 30.0 : minutes * 6.0;
  const qreal inner = r - 3;
  g.setPen(Qt::NoPen);
  g.setBrush(QColor(kAmberBottom.red(), kAmberBottom.green(), kAmberBottom.blue(), 170));
  g.drawPie(QRectF(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner), 90 * 16, static_cast<int>(-sweep * 16));
  // Hour marks.
  g.setPen(QPen(kInk, 1.2, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 12; ++i) {
    g.save();
    g.translate(c);
    g.rotate(i * 30);
    g.drawLine(QPointF(0, -r + 2), QPointF(0, -r + (i % 3 == 0 ? 6 : 4)));
    g.restore();
  }
  // The hands at the end of the period, seen from twelve o'clock.
  auto hand = [&](qreal degrees, qreal length, qreal width) {
    g.save();
    g.translate(c);
    g.rotate(degrees);
    g.setPen(QPen(kInk, width, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(0, 0), QPointF(0, -length));
    g.restore();
  };
  hand(hours ? sweep : 0, r * 0.5, 2.4);   // hour hand
  hand(hours ? 0 : sweep, r * 0.78, 1.6);  // minute hand
  g.setBrush(kInk);
  g.setPen(Qt::NoPen);
  g.drawEllipse(c, 2, 2);
  return pm;
}

}  // namespace raid::art
