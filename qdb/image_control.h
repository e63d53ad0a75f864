#pragma once
// TImage: a label that shows a picture. The picture remembers the graphic
// class it came as ("TBitmap", "TIcon", ...), since that decides how it is
// stored in a record.
#include <QImage>
#include <QLabel>

#include <string>

namespace qdb {

class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    void SetPicture(const QImage& image, const std::string& graphicClass = "TBitmap");
    void ClearPicture();
    bool HasPicture() const { return !image_.isNull(); }
    const QImage& Picture() const { return image_; }
    const std::string& GraphicClass() const { return graphicClass_; }

private:
    QImage image_;
    std::string graphicClass_;
};

} // namespace qdb
