#include "forms/Unit3.h"

#include "framework/Application.h"
#include "images/Globals.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

TSmImForm* SmImForm = nullptr;

TSmImForm::TSmImForm()
    : TForm(QStringLiteral("Вид на сетчатке"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(641, 201, 152, 213);

    Image1 = new TImage(this, 0, 0, 150, 150);
    Button2 = Place(new QPushButton(QStringLiteral("Добавить в список"), this), 0, 155, 153, 17);
    Button3 = Place(new QPushButton(QStringLiteral("Удалить из списка"), this), 0, 172, 153, 17);
    Button1 = Place(new QPushButton(QStringLiteral(">>"), this), 0, 195, 33, 17);
    Button1->setToolTip(QStringLiteral("Следующее изображение"));
    Label1 = new TLabel(this, 40, 196);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(72, 192, 73, ComboBox1->sizeHint().height());
    Label2 = new TLabel(this, 147, 192, QStringLiteral("1"));
    Label2->setFont(DesignerFont(QStringLiteral("Small Fonts"), -8));
    Label2->setStyleSheet(QStringLiteral("color: black"));
    Label2->setGeometry(147, 192, 14, 10);

    setTabOrder(Button1, ComboBox1);
    setTabOrder(ComboBox1, Button2);
    setTabOrder(Button2, Button3);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    // Changes the user makes: choosing an item or typing.
    Handle(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
    Handle(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] { ComboBox1Change(); });

    RetinaImage.Resize(500, 400);
}

void TSmImForm::Button1Click() {}
void TSmImForm::Button2Click() {}
void TSmImForm::Button3Click() {}
void TSmImForm::ComboBox1Change() {}
void TSmImForm::ClearRetinaView() {}
void TSmImForm::SampleObject(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void TSmImForm::DrawRetina() {}
