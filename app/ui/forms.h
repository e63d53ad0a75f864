#pragma once
// The program's secondary windows, each created once, hidden, at start-up.
class TForm;

extern TForm* ViewForm;   // "Pellimar Fax Viewer"
extern TForm* HelpForm;   // "Pellimar Help"
extern TForm* ImportForm; // "Pellimar Import Fax"
