#include "cli/ImageFile.h"
#include <unistd.h>
#include <fcntl.h>

#include "project/FileReasons.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPoint>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <new>

namespace {

// The process's error stream sent nowhere while it lives, then put back.
class TQuietErrorStream {
public:
    TQuietErrorStream()
    {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && nowhere >= 0)
            ::dup2(nowhere, STDERR_FILENO);
        if (nowhere >= 0)
            ::close(nowhere);
    }
    ~TQuietErrorStream()
    {
        std::fflush(stderr);
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    TQuietErrorStream(const TQuietErrorStream&) = delete;
    TQuietErrorStream& operator=(const TQuietErrorStream&) = delete;

private:
    int saved_ = -1;
};

} // namespace

namespace {

// Qt's own warnings (a colour profile libpng does not like, a damaged JPEG)
// would come out in English among the program's messages, which already
// tell what went wrong with a file; only its errors are let through.
QtMessageHandler previousHandler = nullptr;

// What UseGuiToolkit did.
bool toolkitReady = false;
QGuiApplication* ownApplication = nullptr;

void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, text);
        else
            std::fprintf(stderr, "%s\n", qPrintable(text));
    }
}

// The formats Qt's readers call the pictures the program takes.
bool TakenFormat(const QByteArray& format)
{
    static const char* const formats[] = {"png", "pbm", "pgm", "ppm", "jpeg", "jpg", "bmp"};
    const QByteArray lower = format.toLower();
    return std::any_of(std::begin(formats), std::end(formats), [&](const char* f) { return lower == f; });
}

std::string Lowercase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The pixel put over white by its alpha, as 255 times the channel: exact.
inline std::uint32_t OverWhite(std::uint32_t channel, std::uint32_t alpha)
{
    return channel * alpha + 255u * (255u - alpha);
}

} // namespace

void UseGuiToolkit()
{
    if (toolkitReady)
        return;
    if (QCoreApplication::instance() == nullptr) {
        // The platform is named on the command line the toolkit reads, which
        // outweighs QT_QPA_PLATFORM: no display is ever looked for.
        static int argc = 3;
        static char program[] = "trelis-cli";
        static char platformOption[] = "-platform";
        static char platform[] = "offscreen";
        static char* argv[] = {program, platformOption, platform, nullptr};
        // The toolkit sets the C locale from the environment; the program's
        // number formatting stays that of the "C" locale it started with.
        const char* const current = std::setlocale(LC_ALL, nullptr);
        const std::string locale = current != nullptr ? current : "C";
        previousHandler = qInstallMessageHandler(QuietMessages);
        ownApplication = new QGuiApplication(argc, argv);
        std::setlocale(LC_ALL, locale.c_str());
    }
    // The font the answer window names, as the workbench finds it.
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    QImageReader::setAllocationLimit(ImageAllocationLimitMiB);
    toolkitReady = true;
}

TGuiToolkitScope::~TGuiToolkitScope()
{
    if (ownApplication == nullptr)
        return;
    delete ownApplication;
    ownApplication = nullptr;
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
    toolkitReady = false;
}

TImageFile ReadImageFile(const std::string& path)
{
    TImageFile result;
    TRegularFile file = OpenRegularFile(path);
    if (!file.file) {
        result.error = TImageReadError::CannotOpen;
        result.openError = file.error;
        return result;
    }
    if (file.size > MaxImageFileSize) {
        result.error = TImageReadError::TooLargeFile;
        return result;
    }
    try {
        QByteArray bytes(static_cast<qsizetype>(file.size), Qt::Uninitialized);
        std::uint64_t done = 0;
        while (done < file.size) {
            const std::size_t n = ReadAtMost(file.file.get(), bytes.data() + done,
                                             static_cast<std::size_t>(file.size - done), file.size, done);
            if (n == 0)
                break;
        }
        if (std::ferror(file.file.get())) {
            result.error = TImageReadError::ReadFailed;
            return result;
        }
        bytes.truncate(static_cast<qsizetype>(done)); // a file that shrank meanwhile
        file.file.reset();

        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setDecideFormatFromContent(true);
        reader.setAutoTransform(true);
        const QByteArray format = reader.format();
        if (!TakenFormat(format)) {
            result.error = TImageReadError::NotAnImage;
            return result;
        }
        result.format = format.toLower().toStdString();
        if (result.format == "jpg")
            result.format = "jpeg";
        const QSize size = reader.size();
        if (size.isValid() &&
            static_cast<std::uint64_t>(size.width()) * static_cast<std::uint64_t>(size.height()) > MaxImagePixels) {
            result.error = TImageReadError::TooManyPixels;
            result.width = static_cast<std::uint64_t>(size.width());
            result.height = static_cast<std::uint64_t>(size.height());
            return result;
        }
        QImage image;
        bool read = false;
        {
            // The PNG library writes its own complaint about a damaged file
            // straight to the error stream; the reason given below says it.
            const TQuietErrorStream quiet;
            read = reader.read(&image);
        }
        if (!read || image.isNull()) {
            result.error = reader.error() == QImageReader::UnsupportedFormatError ? TImageReadError::NotAnImage
                                                                                  : TImageReadError::Damaged;
            return result;
        }
        const std::uint64_t pixels =
            static_cast<std::uint64_t>(image.width()) * static_cast<std::uint64_t>(image.height());
        if (pixels > MaxImagePixels) {
            result.error = TImageReadError::TooManyPixels;
            result.width = static_cast<std::uint64_t>(image.width());
            result.height = static_cast<std::uint64_t>(image.height());
            return result;
        }
        result.image = std::move(image);
    } catch (const std::bad_alloc&) {
        result.error = TImageReadError::OutOfMemory;
        result.image = QImage();
    }
    return result;
}

std::string ImageReadReason(const TImageFile& file)
{
    switch (file.error) {
    case TImageReadError::CannotOpen:
        return FileOpenReason(file.openError);
    case TImageReadError::TooLargeFile:
        return "файл больше " + std::to_string(MaxImageFileSize >> 20) + " МиБ";
    case TImageReadError::ReadFailed:
        return "файл не удалось прочитать";
    case TImageReadError::NotAnImage:
        return "это не изображение PNG, PGM, PBM, PPM, JPEG или BMP";
    case TImageReadError::TooManyPixels:
        return "изображение " + std::to_string(file.width) + " x " + std::to_string(file.height) +
               " точек больше допустимого (не больше " + std::to_string(MaxImagePixels) + " точек, например 4096 x 4096)";
    case TImageReadError::Damaged:
        return "изображение повреждено или обрывается";
    case TImageReadError::OutOfMemory:
        return "изображение не помещается в памяти";
    case TImageReadError::None:
        break;
    }
    return "неизвестная ошибка";
}

bool IsImageFileName(const std::string& name)
{
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || name.find('/', dot) != std::string::npos)
        return false;
    const std::string ext = Lowercase(name.substr(dot + 1));
    return ext == "png" || ext == "pgm" || ext == "pbm" || ext == "ppm" || ext == "pnm" || ext == "jpg" ||
           ext == "jpeg" || ext == "bmp";
}

bool IsFigurePixel(QRgb pixel)
{
    const std::uint32_t a = static_cast<std::uint32_t>(qAlpha(pixel));
    const std::uint64_t weighted = 299ull * OverWhite(static_cast<std::uint32_t>(qRed(pixel)), a) +
                                   587ull * OverWhite(static_cast<std::uint32_t>(qGreen(pixel)), a) +
                                   114ull * OverWhite(static_cast<std::uint32_t>(qBlue(pixel)), a);
    return weighted < 128000ull * 255ull;
}

std::uint64_t ReadFigureCells(const QImage& image, TRectImage& grid)
{
    const auto width = static_cast<std::uint32_t>(std::max(image.width(), 0));
    const auto height = static_cast<std::uint32_t>(std::max(image.height(), 0));
    grid.Resize(width, height);
    if (width == 0 || height == 0)
        return 0;
    // Straight alpha, 8 bits a channel; RGB32 pixels are opaque already.
    const QImage argb = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32
                            ? image
                            : image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        throw std::bad_alloc();
    std::uint64_t set = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(static_cast<int>(y)));
        std::int8_t* row = grid.Cells.data() + static_cast<std::size_t>(y) * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool figure = IsFigurePixel(line[x]);
            row[x] = figure ? 1 : 0;
            set += figure ? 1 : 0;
        }
    }
    return set;
}

std::optional<TFigureBox> FigureCellsBox(const TRectImage& grid)
{
    const std::size_t usable = GridCells(grid);
    std::uint32_t left = UINT32_MAX, top = UINT32_MAX, right = 0, bottom = 0;
    bool any = false;
    for (std::uint32_t y = 0; y < grid.Height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * grid.Width;
        if (row >= usable)
            break;
        const std::size_t n = std::min<std::size_t>(grid.Width, usable - row);
        const std::int8_t* cells = grid.Cells.data() + row;
        for (std::size_t x = 0; x < n; ++x) {
            if (cells[x] != 1)
                continue;
            any = true;
            left = std::min(left, static_cast<std::uint32_t>(x));
            right = std::max(right, static_cast<std::uint32_t>(x));
            top = std::min(top, y);
            bottom = y;
        }
    }
    if (!any)
        return std::nullopt;
    return TFigureBox{left, top, right - left, bottom - top};
}

void MarkFigures(QImage& picture, const std::vector<TRecognisedFigure>& figures, const std::vector<QString>& names)
{
    picture = picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (picture.isNull())
        return;
    const std::int64_t width = picture.width();
    const std::int64_t height = picture.height();
    const auto set = [&](std::int64_t x, std::int64_t y) {
        if (x >= 0 && y >= 0 && x < width && y < height)
            reinterpret_cast<QRgb*>(picture.scanLine(static_cast<int>(y)))[x] = FrameColor;
    };
    for (const TRecognisedFigure& figure : figures) {
        const std::int64_t x0 = std::int64_t{figure.box.left} - 1;
        const std::int64_t y0 = std::int64_t{figure.box.top} - 1;
        const std::int64_t x1 = std::int64_t{figure.box.left} + figure.box.width + 1;
        const std::int64_t y1 = std::int64_t{figure.box.top} + figure.box.height + 1;
        for (std::int64_t x = std::max<std::int64_t>(x0, 0); x <= std::min(x1, width - 1); ++x) {
            set(x, y0);
            set(x, y1);
        }
        for (std::int64_t y = std::max<std::int64_t>(y0, 0); y <= std::min(y1, height - 1); ++y) {
            set(x0, y);
            set(x1, y);
        }
    }

    // The names at the answer sheet's resolution (framework/Canvas.cpp,
    // MakeBitmap): a font of n points is n * 96 / 72 pixels high.
    const int dotsX = picture.dotsPerMeterX();
    const int dotsY = picture.dotsPerMeterY();
    constexpr int sheetDotsPerMeter = 3780; // 96 dots per inch
    picture.setDotsPerMeterX(sheetDotsPerMeter);
    picture.setDotsPerMeterY(sheetDotsPerMeter);
    for (std::size_t k = 0; k < figures.size() && k < names.size(); ++k) {
        const QString& name = names[k];
        if (name.isEmpty())
            continue;
        const TFigureBox& box = figures[k].box;
        // As TCanvas::Font and TCanvas::TextOut draw it.
        QFont font(QStringLiteral("Times New Roman"));
        const int points = box.height > 0 ? static_cast<int>(std::min<std::uint32_t>(box.height, INT32_MAX))
                                          : std::max(QGuiApplication::font().pointSize(), 1);
        font.setPointSize(points);
        font.setStyleStrategy(QFont::NoAntialias);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(font);
        painter.setPen(QColor(NameColor));
        const int x = static_cast<int>(box.left);
        const int y = static_cast<int>(box.top);
        painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), name);
    }
    picture.setDotsPerMeterX(dotsX);
    picture.setDotsPerMeterY(dotsY);
}

std::string PngBytes(const QImage& picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG"))
        return {};
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
