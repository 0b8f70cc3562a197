#include "forms/Forms.h"

#include "forms/Unit1.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit12.h"
#include "forms/Unit13.h"
#include "forms/Unit14.h"
#include "forms/Unit15.h"
#include "forms/Unit16.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "forms/Unit5.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "forms/Unit8.h"
#include "forms/Unit9.h"

namespace {

template <class T>
void Destroy(T*& form)
{
    delete form;
    form = nullptr;
}

} // namespace

void CreateForms()
{
    Form1 = new TForm1;
    ImForm = new TImForm;
    SmImForm = new TSmImForm;
    Form5 = new TForm5;
    Form6 = new TForm6;
    Form7 = new TForm7;
    LearnForm = new TLearnForm;
    HintForm = new THintForm;
    AnsForm = new TAnsForm;
    Form10 = new TForm10;
    SerLForm = new TSerLForm;
    Form12 = new TForm12;
    ProgressForm = new TProgressForm;
    GalleryForm = new TGalleryForm;
    RunSettingsForm = new TRunSettingsForm;
    TuneForm = new TTuneForm;
    Form1->Show();
}

void DestroyForms()
{
    Destroy(TuneForm);
    Destroy(RunSettingsForm);
    Destroy(GalleryForm);
    Destroy(ProgressForm);
    Destroy(Form12);
    Destroy(SerLForm);
    Destroy(Form10);
    Destroy(AnsForm);
    Destroy(HintForm);
    Destroy(LearnForm);
    Destroy(Form7);
    Destroy(Form6);
    Destroy(Form5);
    Destroy(SmImForm);
    Destroy(ImForm);
    Destroy(Form1);
}
