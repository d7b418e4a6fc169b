#!/bin/bash
# Stands in for the device's init.sh: only reports, to $DEMO_LOG/init.sh.log.
echo "init.sh $*: the device would apply its settings now" >>"$DEMO_LOG/init.sh.log"
