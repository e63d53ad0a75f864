#pragma once
// Importing fax files that another mail program saved to disk: the file is
// copied into "faxes/" of the working folder and catalogued with no sender ID
// or fax date. The import window, a file dropped onto a window and
// `pellimar --import` all go through ImportFaxFile.
#include <QString>

class TFaxCatalogue;
class TFlyingOp;
class TRunHost;

// Adds the catalogue record of an imported fax from `path` that lies in
// "faxes/" as `name`: Filename "faxes\" + name, Status "New", Sender ID and
// Fax Date "<none available>", eMail Date now. Logs "Added 1 Fax: " + path.
// Throws when the catalogue refuses the record.
void CatalogueImportedFax(TFaxCatalogue& catalogue, TRunHost& host, const QString& path, const QString& name);

// True when the file at path is a fax this program can show: the one check
// of what may be imported.
bool IsFaxFile(const QString& path);

// Copies the fax file at `path` into `workFolder` + "/faxes/" with `op` and
// catalogues it once it lies there. Its name is made safe as a download's
// attachment name is; a different file, a symbolic link or a record (letter
// case ignored) that holds the name already keeps it, and the import takes
// the next free one ("fax (2).apf"). The same fax lying there already is
// catalogued without a copy, or kept with its record. Nothing is ever written
// through a link. Every refusal and failure is reported in a box; true when
// the fax is catalogued.
bool ImportFaxFile(TFaxCatalogue& catalogue, TRunHost& host, TFlyingOp& op, const QString& workFolder, const QString& path);
