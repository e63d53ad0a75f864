#pragma once
// Importing fax files that another mail program saved to disk: the file is
// copied into "faxes/" of the working folder and catalogued with no sender ID
// or fax date. The import window, a file dropped onto a window and
// `pellimar --import` all go through ImportFaxFile.
#include <QString>

class TFaxCatalogue;
class TFlyingOp;
class TRunHost;

// Adds the catalogue record of an imported fax whose file, named like the
// file at `path`, lies in "faxes/": Filename "faxes\" + the file name, Status
// "New", Sender ID and Fax Date "<none available>", eMail Date now. Logs
// "Added 1 Fax: " + path. Throws when the catalogue refuses the record.
void CatalogueImportedFax(TFaxCatalogue& catalogue, TRunHost& host, const QString& path);

// Copies the fax file at `path` into `workFolder` + "/faxes/" with `op` (a
// file already there is replaced only if the user agrees) and catalogues it
// once it lies there. Every refusal and failure is reported in a box; true
// when a record was added.
bool ImportFaxFile(TFaxCatalogue& catalogue, TRunHost& host, TFlyingOp& op, const QString& workFolder, const QString& path);
