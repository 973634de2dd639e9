#include "app/CValloraApp.h"

int main(int argc, char** argv) {
    CValloraApp app(argc, argv);
    return app.InitInstance();
}
