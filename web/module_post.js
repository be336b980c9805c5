// Hands the page's file system to worker.js, which mounts it per conversion.
Module['PAGEFS'] = PAGEFS;
