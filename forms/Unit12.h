#pragma once
// TForm12, "О программе": the About window. A click on the little house
// opens the program's home page.

#include "framework/Controls.h"
#include "framework/Form.h"

class TForm12 : public TForm {
    Q_OBJECT
public:
    TForm12();

    // Handler: any mouse button on the house.
    void Shape1MouseDown(Qt::MouseButton button, int x, int y);

    TShape* Shape2; // the ellipse behind the house
    TShape* Shape1; // the house
    TLabel* Label1; // version
    TLabel* Label2; // author
    TLabel* Label3; // place and year
    TLabel* Label4; // "Home" on the house
};

extern TForm12* Form12;
