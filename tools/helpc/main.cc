// whirlo_helpc: compiles the plain-text help source into a help file.
#include <fstream>
#include <iostream>

#include "document_check.h"
#include "help_file.h"
#include "help_source.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: whirlo_helpc <source.txt> <output.hlp>\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << argv[1] << ": cannot open\n";
    return 1;
  }
  try {
    helpc::HelpDocument doc = helpc::parse_help_source(in);
    helpc::check_document(doc);
    helpc::Bytes file = helpc::write_help_file(doc);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), file.size());
    if (!out.flush()) {
      std::cerr << argv[2] << ": cannot write\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << argv[1] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
