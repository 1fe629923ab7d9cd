#include "office/office_service.h"

int main(int argc, char** argv) { return office::RunOffice(argc, argv); }
