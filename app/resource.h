// Resource identifiers of VorlanKur.exe.
#pragma once

// The application icon: the first icon group, also the window's icon.
#define IDI_VORLANKUR 1
