// PLACEHOLDER so the library has a source until the command loop lands; delete it then.
