// libmz.so: the core made shared. The MZ_ functions carry the export
// attribute where they are defined; everything else stays hidden.
