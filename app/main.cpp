// Tarn Editor: browse the rules text inside BIG archives.
#include "app/tarn_editor_app.h"

namespace {

CTarnEditorApp theApp;

}  // namespace

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
