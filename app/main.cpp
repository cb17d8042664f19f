#include <string>
#include <vector>

#include "app/VorloApp.h"

int main(int argc, char** argv) {
    CVorloApp app;
    app.InitInstance(std::vector<std::string>(argv, argv + argc));
    return app.ExitInstance();
}
