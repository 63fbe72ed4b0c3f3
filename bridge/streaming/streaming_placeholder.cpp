// PLACEHOLDER so the library has a source until the stream hub lands; delete it then.
