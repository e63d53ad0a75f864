#include "qdb/image_control.h"

#include <QPixmap>

namespace qdb {

TImage::TImage(QWidget* parent) : QLabel(parent) {}

void TImage::SetPicture(const QImage& image, const std::string& graphicClass)
{
    if (image.isNull()) {
        ClearPicture();
        return;
    }
    image_ = image;
    graphicClass_ = graphicClass;
    setPixmap(QPixmap::fromImage(image_));
}

void TImage::ClearPicture()
{
    image_ = QImage();
    graphicClass_.clear();
    clear();
}

} // namespace qdb
