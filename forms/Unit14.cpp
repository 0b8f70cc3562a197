#include "forms/Unit14.h"

#include "forms/ProgressPlot.h"
#include "forms/Unit3.h"
#include "framework/Application.h"
#include "images/ClassNames.h"

#include <QIcon>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>

TGalleryForm* GalleryForm = nullptr;

namespace {

constexpr int ClientWidth = 560;
constexpr int ClientHeight = 420;

// The picture with a light frame, so that a white one shows on the list.
QPixmap Framed(const TPixels& pixels)
{
    const QImage picture = PixelsImage(pixels);
    QImage framed(picture.width() + 2, picture.height() + 2, QImage::Format_RGB32);
    framed.fill(qRgb(170, 170, 170));
    QPainter painter(&framed);
    painter.drawImage(1, 1, picture);
    return QPixmap::fromImage(framed);
}

} // namespace

TGalleryForm::TGalleryForm()
    : TForm(QStringLiteral("Образцы клетки")),
      TProjectListener(Project)
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(160, 120, ClientWidth, ClientHeight);
    Label1 = new TLabel(this, 8, 6);
    ListBox1 = Place(new QListWidget(this), 4, 40, ClientWidth - 8, ClientHeight - 40 - 52);
    ListBox1->setViewMode(QListView::IconMode);
    ListBox1->setMovement(QListView::Static);
    ListBox1->setResizeMode(QListView::Adjust);
    ListBox1->setWordWrap(true);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    Button1 = Place(new QPushButton(QStringLiteral("Показать в последовательности"), this), 4,
                    ClientHeight - 48, 220, 22);
    Label2 = new TLabel(this, 8, ClientHeight - 22);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(ListBox1, &QListWidget::itemDoubleClicked, this, [this] { Button1Click(); });
    Handle(ListBox1, &QListWidget::currentRowChanged, this, [this] { UpdateButton(); });
}

void TGalleryForm::ShowCell(const QString& title, std::vector<TGalleryItem> cell, std::size_t total,
                            std::optional<TSequenceMark> mark)
{
    items = std::move(cell);
    mark_ = mark;
    QString text = title;
    if (items.size() < total)
        text += QStringLiteral("\nПоказаны %1 худших из %2.").arg(items.size()).arg(total);
    else
        text += QStringLiteral("\nЭлементов: %1; худшие первыми, под картинкой место, класс → ответ.").arg(total);
    Label1->SetCaption(text);

    ListBox1->clear();
    QSize largest(1, 1);
    for (const TGalleryItem& item : items) {
        const QPixmap picture = Framed(item.picture);
        largest = largest.expandedTo(picture.size());
        QIcon icon(picture);
        // Selected, the picture stays as it is: crisp cells, no tint.
        icon.addPixmap(picture, QIcon::Selected);
        const auto name = [](std::int64_t k) { return QString::fromStdString(ShownClassName(Project.ClassNames(), k)); };
        auto* entry = new QListWidgetItem(
            icon, QStringLiteral("№ %1\n%2 → %3").arg(item.place).arg(name(item.trueClass), name(item.answer)));
        entry->setToolTip(QStringLiteral("Место %1: класс «%2», ответ сети «%3»; разница выходов %4")
                              .arg(item.place)
                              .arg(name(item.trueClass), name(item.answer), PlotNumber(item.margin)));
        ListBox1->addItem(entry);
    }
    ListBox1->setIconSize(largest);
    ListBox1->setGridSize(QSize(std::max(largest.width(), 72) + 16, largest.height() + 40));
    ListBox1->setCurrentRow(items.empty() ? -1 : 0);
    UpdateButton();
    Show();
}

void TGalleryForm::UpdateButton()
{
    const bool stale = mark_ && Project.MarkedElement(*mark_) == nullptr;
    Button1->setEnabled(mark_ && !stale && ListBox1->currentRow() >= 0);
    if (!mark_)
        Label2->SetCaption(QStringLiteral("Элементы проверочного файла только показываются."));
    else if (stale)
        Label2->SetCaption(QStringLiteral("Последовательность изменилась после этой эпохи: обучите эпоху и "
                                          "откройте клетку снова."));
    else
        Label2->SetCaption(QString());
}

void TGalleryForm::Button1Click()
{
    const int row = ListBox1->currentRow();
    if (!mark_ || row < 0 || static_cast<std::size_t>(row) >= items.size())
        return;
    if (Project.MoveCursorTo(*mark_, items[static_cast<std::size_t>(row)].step))
        SmImForm->OpenAtCursor();
    UpdateButton();
}

void TGalleryForm::ProjectChanged(TProjectChange)
{
    UpdateButton();
}
